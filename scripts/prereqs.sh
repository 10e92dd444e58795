#!/usr/bin/env bash
# Installs what building, the demo and the tests need on Debian 12, when it
# is missing. Safe to run again: it only installs absent packages. It never
# ends a process it did not start; the only service it touches is a Dovecot
# that this very run installed.
set -euo pipefail

pkgs=(cmake g++ make libgtest-dev libgmock-dev googletest libbenchmark-dev
      g++-mingw-w64-x86-64 wine wine64 xvfb xdotool imagemagick x11-utils
      fonts-ipafont-gothic dovecot-pop3d dovecot-imapd locales python3 clang libclang-rt-14-dev procps
      nsis openssl)
SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO=sudo

installed() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"; }

policy=/usr/sbin/policy-rc.d
own_policy=0
drop_policy() {
  if [ "$own_policy" -eq 1 ]; then
    $SUDO rm -f "$policy" || true
    own_policy=0
  fi
}

# Maintainer scripts ask policy-rc.d before starting a service. Ours refuses
# Dovecot only (by init script or unit name) and lets every other service
# do as it would without one. The write fails when the file exists: a policy
# already there is the administrator's and stays as it is.
hold_dovecot() {
  if $SUDO sh -c 'set -C; cat >"$1" && chmod 755 "$1"' sh "$policy" 2>/dev/null <<'POLICY'
#!/bin/sh
# Temporary: written and removed by tarvi's scripts/prereqs.sh around one
# apt-get install, so that the packaged Dovecot does not start.
for a in "$@"; do
  case "$a" in dovecot|dovecot.*) exit 101 ;; esac
done
exit 0
POLICY
  then
    own_policy=1
  fi
}

# The tests start private Dovecot instances; the packaged service is not
# wanted. Without a running systemd (a container) there is only the init
# script, whose stop acts on the service's own pid file, nothing else.
stop_packaged_dovecot() {
  if [ -d /run/systemd/system ] && command -v systemctl >/dev/null 2>&1; then
    $SUDO systemctl disable --now dovecot.socket >/dev/null 2>&1 || true
    $SUDO systemctl disable --now dovecot.service >/dev/null 2>&1 || true
    return
  fi
  if command -v systemctl >/dev/null 2>&1; then
    $SUDO systemctl disable dovecot.socket >/dev/null 2>&1 || true
    $SUDO systemctl disable dovecot.service >/dev/null 2>&1 || true
  elif command -v update-rc.d >/dev/null 2>&1; then
    $SUDO update-rc.d dovecot disable >/dev/null 2>&1 || true
  fi
  if command -v service >/dev/null 2>&1 && $SUDO service dovecot status >/dev/null 2>&1; then
    $SUDO service dovecot stop >/dev/null 2>&1 || true
  fi
}

missing=()
for p in "${pkgs[@]}"; do
  installed "$p" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "prereqs: installing ${missing[*]}"
  # A Dovecot present before this run is someone else's: left alone.
  dovecot_before=0
  installed dovecot-core && dovecot_before=1
  trap drop_policy EXIT
  trap 'exit 130' INT
  trap 'exit 143' TERM
  hold_dovecot
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
  drop_policy
  trap - EXIT INT TERM
  if [ "$dovecot_before" -eq 0 ] && installed dovecot-core; then
    stop_packaged_dovecot
  fi
fi
# Wine under a Japanese locale gives code page 932 and Japanese system texts.
if ! locale -a 2>/dev/null | grep -qi '^ja_JP.utf8$'; then
  $SUDO sed -i 's/^# *ja_JP.UTF-8 UTF-8/ja_JP.UTF-8 UTF-8/' /etc/locale.gen
  grep -q '^ja_JP.UTF-8 UTF-8' /etc/locale.gen || echo 'ja_JP.UTF-8 UTF-8' | $SUDO tee -a /etc/locale.gen >/dev/null
  $SUDO locale-gen >/dev/null
fi

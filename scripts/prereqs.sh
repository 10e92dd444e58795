#!/usr/bin/env bash
# Installs what building, the demo and the tests need on Debian 12, when it
# is missing. Safe to run again: it only installs absent packages.
set -euo pipefail

pkgs=(cmake g++ make libgtest-dev libgmock-dev googletest libbenchmark-dev
      g++-mingw-w64-x86-64 wine wine64 xvfb xdotool imagemagick x11-utils
      fonts-ipafont-gothic dovecot-pop3d locales python3 clang libclang-rt-14-dev procps)
missing=()
for p in "${pkgs[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "prereqs: installing ${missing[*]}"
  SUDO=""
  [ "$(id -u)" -eq 0 ] || SUDO=sudo
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
  # Dovecot's packaged service is not ours: the tests start private instances.
  if command -v systemctl >/dev/null 2>&1; then $SUDO systemctl disable --now dovecot >/dev/null 2>&1 || true; fi
  $SUDO pkill -x dovecot >/dev/null 2>&1 || true
fi
# Wine under a Japanese locale gives code page 932 and Japanese system texts.
if ! locale -a 2>/dev/null | grep -qi '^ja_JP.utf8$'; then
  SUDO=""
  [ "$(id -u)" -eq 0 ] || SUDO=sudo
  $SUDO sed -i 's/^# *ja_JP.UTF-8 UTF-8/ja_JP.UTF-8 UTF-8/' /etc/locale.gen
  grep -q '^ja_JP.UTF-8 UTF-8' /etc/locale.gen || echo 'ja_JP.UTF-8 UTF-8' | $SUDO tee -a /etc/locale.gen >/dev/null
  $SUDO locale-gen >/dev/null
fi

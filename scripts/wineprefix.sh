#!/usr/bin/env bash
# Makes a private 64-bit Wine prefix at $1 (once): Japanese font
# substitutions so that the programs' texts render, no Mono/Gecko prompts.
set -euo pipefail
prefix="$(realpath -m "$1")"
[ -f "$prefix/.tarvi-ready" ] && exit 0
rm -rf "$prefix"
mkdir -p "$prefix"
export WINEPREFIX="$prefix" WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
export LANG=ja_JP.UTF-8
wineboot -i >/dev/null 2>&1 || true
wineserver -w
[ -f "$prefix/system.reg" ] || { echo "wineprefix: wineboot failed for $prefix" >&2; exit 1; }
reg="$(mktemp --suffix=.reg)"
{
  printf 'Windows Registry Editor Version 5.00\r\n\r\n'
  printf '[HKEY_CURRENT_USER\\Software\\Wine\\Fonts\\Replacements]\r\n'
  for f in "MS UI Gothic" "MS Shell Dlg" "MS Shell Dlg 2" "MS Gothic" "Tahoma" "Meiryo UI" "Meiryo" "ＭＳ ゴシック" "ＭＳ 明朝" "MS Mincho"; do
    printf '"%s"="IPAGothic"\r\n' "$f"
  done
  for f in "MS PGothic" "ＭＳ Ｐゴシック" "ＭＳ Ｐ明朝" "MS PMincho"; do
    printf '"%s"="IPAPGothic"\r\n' "$f"
  done
  printf '\r\n[HKEY_CURRENT_USER\\Software\\Wine\\WineDbg]\r\n"ShowCrashDialog"=dword:00000000\r\n'
} | iconv -f UTF-8 -t UTF-16 > "$reg"
wine regedit /S "$reg" >/dev/null 2>&1
rm -f "$reg"
wineserver -w
touch "$prefix/.tarvi-ready"

#!/usr/bin/env bash
# Installs the Debian packages Tallyweave builds and tests with, when any is missing.
# Usage: scripts/deps.sh [build|run|test|bench|package|fuzz]
set -euo pipefail
build_pkgs=(cmake make g++ pkg-config qt6-base-dev libzip-dev libpugixml-dev libfreexl-dev
            libcurl4-openssl-dev libgmime-3.0-dev libsqlite3-dev libsecret-1-dev)
# Fonts for the shipped languages, Chinese included, and Qt's own texts in those languages.
run_pkgs=(fonts-dejavu-core fonts-noto-cjk qt6-translations-l10n)
test_pkgs=(python3 python3-openpyxl python3-xlwt python3-xlsxwriter python3-docx python3-aiosmtpd
           openssl xvfb libreoffice-calc-nogui libreoffice-writer-nogui msmtp desktop-file-utils appstream
           python3-odf python3-pandas poppler-utils dovecot-imapd
           dbus gnome-keyring libsecret-tools)
# Peers the benchmarks compare with.
bench_pkgs=(python3-docxtpl python3-pandas)
# Building the Debian package and checking it (scripts/package-check).
package_pkgs=(dpkg-dev file lintian desktop-file-utils appstream)
# The libFuzzer targets (scripts/fuzz): clang with its fuzzing runtime, and the seed generators.
fuzz_pkgs=(clang-14 libfuzzer-14-dev ccache python3 python3-openpyxl python3-xlwt python3-xlsxwriter python3-docx)
pkgs=("${build_pkgs[@]}")
case "${1:-build}" in
  run) pkgs+=("${run_pkgs[@]}") ;;
  test) pkgs+=("${run_pkgs[@]}" "${test_pkgs[@]}") ;;
  bench) pkgs+=("${run_pkgs[@]}" "${test_pkgs[@]}" "${bench_pkgs[@]}") ;;
  fuzz) pkgs+=("${fuzz_pkgs[@]}") ;;
  package) pkgs+=("${run_pkgs[@]}" "${test_pkgs[@]}" "${package_pkgs[@]}") ;;
esac
missing=()
for p in "${pkgs[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  sudo_cmd=()
  if [ "$(id -u)" -ne 0 ]; then sudo_cmd=(sudo); fi
  "${sudo_cmd[@]}" apt-get update -qq
  "${sudo_cmd[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

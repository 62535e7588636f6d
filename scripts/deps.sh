#!/usr/bin/env bash
# Installs the Debian packages zorv needs to build, run and test, when missing.
set -euo pipefail

PACKAGES=(
  build-essential cmake ninja-build pkg-config
  qt6-base-dev qt6-base-dev-tools qt6-translations-l10n qt6-qpa-plugins
  libqt6svg6 # the SVG image and icon plugins (the window icon)
  libcurl4-openssl-dev ca-certificates
  libcpp-httplib-dev libgtest-dev libgmock-dev
  python3-pyftpdlib python3-dbusmock dbus
  xvfb xauth xclip x11-apps fonts-ipafont-gothic
  nginx openssl curl wget aria2 time hyperfine # openssl: the test authority of the HTTPS test server
  clang libclang-rt-14-dev
  chromium chromium-l10n firefox-esr # the browser tests of the extension (l10n: its Japanese texts)
)
# node and npm for the browser test: Debian's, unless a node is there already
# (another node's own npm comes with it).
command -v node >/dev/null || PACKAGES+=(nodejs npm)

missing=()
for p in "${PACKAGES[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  SUDO=""
  [ "$(id -u)" -eq 0 ] || SUDO=sudo
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

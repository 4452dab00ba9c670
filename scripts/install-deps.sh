#!/usr/bin/env bash
# Installs the Debian packages that building, testing and the demo need.
# Safe to run again: apt-get skips what is already installed.
set -euo pipefail

PACKAGES=(
  build-essential cmake pkg-config
  libxml2-dev zlib1g-dev libssl-dev libcurl4-openssl-dev
  libp11-kit-dev p11-kit softhsm2 opensc libengine-pkcs11-openssl
  pcscd libpcsclite-dev pcsc-tools vsmartcard-vpcd vsmartcard-vpicc
  python3-virtualsmartcard python3-pycryptodome
  xmlsec1 libxml2-utils libgtest-dev libgmock-dev libbenchmark-dev
  nlohmann-json3-dev libcpp-httplib-dev libcli11-dev
  gzip python3 python3-cryptography curl openssl jq bc xxd
  clang libclang-rt-14-dev
  libgtk-3-dev libgcr-3-dev xvfb xauth xdotool imagemagick fonts-liberation2
  chromium firefox-esr nodejs
)

missing=()
for p in "${PACKAGES[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -eq 0 ]; then
  echo "install-deps: all packages present"
  exit 0
fi

SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"
echo "install-deps: installing ${missing[*]}"
$SUDO apt-get update -qq
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${missing[@]}"

#!/usr/bin/env bash
# Installs what building and testing Tagloom needs, from Debian's packages; skips what is there.
set -euo pipefail
packages=(cmake make g++ clang libclang-rt-14-dev libgtest-dev nlohmann-json3-dev libimage-exiftool-perl exiv2 imagemagick acl attr python3 zlib1g-dev webp libjxl-tools pkg-config libturbojpeg0-dev libheif-examples)
missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" || missing+=("$package")
done
if [ "${#missing[@]}" -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}" >/dev/null
fi

#!/usr/bin/env bash
# Installs everything the build, the tests and the demo need on a fresh Debian 12 machine.
# Safe to run again: it only installs what is missing.
set -euo pipefail

packages=(cmake ninja-build mingw-w64 mingw-w64-tools wine wine64 wine32:i386 wine64-tools
          xvfb xauth x11-apps imagemagick googletest openssl clang llvm coreutils
          fonts-wqy-zenhei fonts-wqy-microhei)

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
    SUDO=""
    [ "$(id -u)" -eq 0 ] || SUDO=sudo
    dpkg --print-foreign-architectures | grep -qx i386 || $SUDO dpkg --add-architecture i386
    $SUDO apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

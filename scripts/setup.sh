#!/usr/bin/env bash
# Installs everything the build, the tests and the demo need on a fresh Debian 12 machine.
# Safe to run again: it only installs what is missing.
set -euo pipefail

packages=(cmake ninja-build mingw-w64 mingw-w64-tools wine wine64 wine32:i386 wine64-tools
          xvfb xauth x11-apps imagemagick googletest openssl clang llvm coreutils
          fonts-wqy-zenhei fonts-wqy-microhei locales)

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO=sudo
if [ ${#missing[@]} -gt 0 ]; then
    dpkg --print-foreign-architectures | grep -qx i386 || $SUDO dpkg --add-architecture i386
    $SUDO apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

# Wine takes the ANSI code page from the locale's name and converts command lines and file names
# with the locale's character set: the zh_CN.UTF-8 locale must exist for both to be GBK/UTF-8.
if ! locale -a 2>/dev/null | grep -qix 'zh_CN.utf8'; then
    ${SUDO:-} localedef -i zh_CN -f UTF-8 zh_CN.UTF-8
fi

#!/usr/bin/env bash
# Installs every Debian package the project needs to build, test, benchmark and run.
# Does nothing when all of them are present. Runs as root, or through sudo when it is
# available; otherwise it names what is missing and how to install it.
set -euo pipefail

PACKAGES=(
    build-essential cmake ninja-build pkg-config clang libclang-rt-14-dev
    libexpat1-dev libusb-1.0-0-dev libudev-dev libasound2-dev
    libsdl2-dev libcairo2-dev libpango1.0-dev fonts-wqy-microhei
    libgtest-dev libgmock-dev libbenchmark-dev
    umockdev libumockdev-dev dfu-util alsa-utils
    xvfb xauth libxtst-dev xfonts-base
    desktop-file-utils appstream lintian man-db groff-base dpkg-dev
)

missing=()
for p in "${PACKAGES[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
        missing+=("$p")
    fi
done

if [ ${#missing[@]} -eq 0 ]; then
    exit 0
fi

echo "install-deps: installing ${missing[*]}" >&2
if [ "$(id -u)" -eq 0 ]; then
    SUDO=()
elif command -v sudo >/dev/null 2>&1 && sudo -n true 2>/dev/null; then
    SUDO=(sudo)
else
    echo "install-deps: these Debian packages are missing: ${missing[*]}" >&2
    echo "install-deps: run as root:  apt-get install -y ${missing[*]}" >&2
    exit 1
fi

export DEBIAN_FRONTEND=noninteractive
"${SUDO[@]}" apt-get update -qq
"${SUDO[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
echo "install-deps: done" >&2

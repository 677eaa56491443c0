#!/usr/bin/env bash
# Installs the built updater through CMake's install rules (packaging/CMakeLists.txt): the program
# and its window module in <prefix>/lib/xr4000-nova-updater/, a link to it in <prefix>/bin, the
# udev rule, the desktop entry, icons, AppStream metainfo and man page. Firmware files only from
# FIRMWARE_DIR, each checked by the program's own file check first.
#
#   sudo make install                                         into /usr/local
#   sudo FIRMWARE_DIR=~/Downloads/nova make install           with the product's firmware files
#   PREFIX=/usr DESTDIR=/tmp/stage bash scripts/install.sh    staged, for packaging
set -euo pipefail
cd "$(dirname "$0")/.."

program=xr4000-nova-updater
build=${BUILD_DIR:-build}
prefix=${PREFIX:-/usr/local}
destdir=${DESTDIR:-}

if [ -z "$destdir" ] && [ "$(id -u)" -ne 0 ]; then
    echo "install: installing into $prefix needs root; run: sudo make install" >&2
    exit 1
fi
bash scripts/build.sh "$build" --target "$program" check-firmware-file packaging-files
DESTDIR="$destdir" cmake --install "$build" --prefix "$prefix"
echo "install: $program in $destdir$prefix/lib/$program, linked from $destdir$prefix/bin" >&2

# A live system: udev reads rules from /usr/lib and /etc only, so an install below another prefix
# links its rule into /etc; then the rules apply to devices that are already plugged in. A
# staged install leaves that to the package's own scripts.
if [ -z "$destdir" ]; then
    rule=$prefix/lib/udev/rules.d/70-halvard-xr4000-nova.rules
    if [ "$prefix" != /usr ] && [ -d /etc/udev/rules.d ]; then
        ln -sfn "$rule" /etc/udev/rules.d/70-halvard-xr4000-nova.rules
    fi
    if command -v udevadm >/dev/null 2>&1 && [ -d /run/udev ]; then
        udevadm control --reload-rules || true
        udevadm trigger --subsystem-match=usb --action=change || true
        echo "install: udev rules reloaded; the logged-in user may now open the devices" >&2
    fi
fi

#!/usr/bin/env bash
# Installs the built updater: the program with its two firmware files in one folder (it finds them
# next to its real file), a link to it on the PATH, and the udev rules file that lets the
# logged-in user reach the devices without root.
#
#   sudo make install                          into /usr/local, rules into /etc/udev/rules.d
#   PREFIX=/opt/halvard DESTDIR=/tmp/stage bash scripts/install.sh     staged, for packaging
set -euo pipefail
cd "$(dirname "$0")/.."

program=xr4000-nova-updater
rules=packaging/udev/70-halvard-xr4000-nova.rules
build=${BUILD_DIR:-build}
prefix=${PREFIX:-/usr/local}
destdir=${DESTDIR:-}
libdir="$prefix/lib/$program"
udevdir=${UDEV_RULES_DIR:-/etc/udev/rules.d}

files=("$build/bin/$program" "$build/bin/$program-window.so" "$build/bin/qx31_tp_update_00_31_120936.dfu" "$build/bin/qx31_wd_update_00_50_3A7CE2CA.dfu" "$rules")
for f in "${files[@]}"; do
    if [ ! -f "$f" ]; then
        echo "install: $f is missing; build first with: make build" >&2
        exit 1
    fi
done

if [ -z "$destdir" ] && [ "$(id -u)" -ne 0 ]; then
    echo "install: installing into $prefix and $udevdir needs root; run: sudo make install" >&2
    exit 1
fi

install -d "$destdir$libdir" "$destdir$prefix/bin" "$destdir$udevdir"
install -m 0755 "$build/bin/$program" "$destdir$libdir/$program"
# The window module, loaded from beside the program only by runs that show the window.
install -m 0644 "$build/bin/$program-window.so" "$destdir$libdir/$program-window.so"
install -m 0644 "$build/bin/qx31_tp_update_00_31_120936.dfu" "$build/bin/qx31_wd_update_00_50_3A7CE2CA.dfu" "$destdir$libdir/"
ln -sfn "$libdir/$program" "$destdir$prefix/bin/$program"
install -m 0644 "$rules" "$destdir$udevdir/$(basename "$rules")"
echo "install: $program in $destdir$libdir, linked from $destdir$prefix/bin; udev rules in $destdir$udevdir" >&2

# A live system applies the rules to devices that are already plugged in; a staged install leaves
# that to the package's own scripts.
if [ -z "$destdir" ] && command -v udevadm >/dev/null 2>&1 && [ -d /run/udev ]; then
    udevadm control --reload-rules || true
    udevadm trigger --subsystem-match=usb --action=change || true
    echo "install: udev rules reloaded; the logged-in user may now open the devices" >&2
fi

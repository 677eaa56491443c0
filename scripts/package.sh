#!/usr/bin/env bash
# Builds the Debian package from the build folder's install rules (CPack, packaging/CMakeLists.txt):
# prefix /usr, binaries stripped, dependencies read from the binaries by dpkg-shlibdeps. Prints
# the package's path. FIRMWARE_DIR=<folder> puts the product's firmware files into it.
#
#   bash scripts/package.sh [build folder]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-${BUILD_DIR:-build}}
bash scripts/build.sh "$build" --target xr4000-nova-updater check-firmware-file packaging-files
(cd "$build" && cpack -G DEB >/dev/null)
package=$(ls -t "$build"/xr4000-nova-updater_*.deb | head -n1)
echo "$package"

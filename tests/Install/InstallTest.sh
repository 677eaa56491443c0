#!/usr/bin/env bash
# The install tree, as a user's system gets it: installs the build into a temporary DESTDIR
# (prefix /usr), runs the installed program through its link in bin/ on simulated devices, checks
# the desktop entry, AppStream metainfo and man page with their own validators, the firmware files'
# install check, and lintian on the Debian package.
#
#   InstallTest.sh <build folder> <source folder>
# Each failure names what is wrong; the exit status is the number of failed checks (at most 1 for
# a step that cannot go on).
set -uo pipefail
build=$(cd "$1" && pwd)
source=$(cd "$2" && pwd)
program=xr4000-nova-updater
appid=com.halvard.Xr4000NovaUpdater
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failed=0 passed=0
fail() { echo "FAILED: $*" >&2; failed=$((failed + 1)); }
pass() { passed=$((passed + 1)); }
check() { # check <what> <command...>: the command's success is the check's
    local what=$1
    shift
    if "$@"; then pass; else fail "$what"; fi
}

# Runs the installed program with its own HOME and XDG folders (never the tester's).
run_installed() {
    local root=$1
    shift
    mkdir -p "$work/home/run"
    env -i PATH=/usr/bin:/bin HOME="$work/home" XDG_RUNTIME_DIR="$work/home/run" LANG=${RUN_LANG:-C.UTF-8} \
        "$root/usr/bin/$program" "$@"
}

# ---- The tree without firmware files ---------------------------------------------------------
stage=$work/stage
if ! env -u FIRMWARE_DIR DESTDIR="$stage" cmake --install "$build" --prefix /usr >"$work/install.log" 2>&1; then
    cat "$work/install.log" >&2
    fail "cmake --install into a DESTDIR failed"
    echo "0 passed, $failed failed"
    exit 1
fi
appdir=$stage/usr/lib/$program
for file in "$appdir/$program" "$appdir/$program-window.so" "$stage/usr/lib/udev/rules.d/70-halvard-xr4000-nova.rules" \
    "$stage/usr/share/applications/$appid.desktop" "$stage/usr/share/metainfo/$appid.metainfo.xml" \
    "$stage/usr/share/icons/hicolor/scalable/apps/$appid.svg" "$stage/usr/share/icons/hicolor/48x48/apps/$appid.png" \
    "$stage/usr/share/icons/hicolor/256x256/apps/$appid.png" "$stage/usr/share/man/man1/$program.1.gz" \
    "$stage/usr/share/mime/packages/$program.xml"; do
    check "the install tree lacks ${file#"$stage"}" test -f "$file"
    check "${file#"$stage"} is not readable by everyone" test "$(( $(stat -c '0%a' "$file") & 0444 ))" = 292
done
link=$(readlink "$stage/usr/bin/$program")
check "usr/bin/$program is not a relative link into usr/lib/$program (it is \"$link\")" \
    test "$link" = "../lib/$program/$program"
dfu_files=$(find "$stage" -name '*.dfu')
check "the simulator's sample images were installed without FIRMWARE_DIR: $dfu_files" test -z "$dfu_files"
grep -q "No firmware files installed (FIRMWARE_DIR is not set): put the product's files into /usr/lib/$program" "$work/install.log" ||
    fail "the install did not say where the firmware files go: $(cat "$work/install.log")"

# The installed program through its link: it finds its folder (the JSON names no file there),
# its built-in texts (German help) and answers the query on simulated devices.
json=$(run_installed "$stage" -RETURN_UPDATE_MODE_STATUS --json -SIMULATE_DEVICES=00.30,00.49 2>"$work/query.err")
status=$?
# Without its files an installed copy has nothing to write: 4, as a copy without files answers.
check "the installed query without firmware files ended with $status, not 4: $(cat "$work/query.err")" test "$status" = 4
check "the installed query's JSON does not say that both old devices need an update and no file is present: $json" \
    python3 - "$json" <<'PY'
import json, sys
answer = json.loads(sys.argv[1])
devices = {d["role"]: d for d in answer["devices"]}
assert answer["exit_status"] == 4, answer
for role, version in (("controller", "00.30"), ("wheel_display", "00.49")):
    d = devices[role]
    assert d["found"] and d["mode"] == "normal" and d["version"] == version, d
    assert d["update_needed"] and not d["file_present"], d
PY
help=$(RUN_LANG=de_DE.UTF-8 run_installed "$stage" --help)
status=$?
check "the installed --help ended with $status" test "$status" = 0
check "the installed --help in German lacks its heading \"Optionen:\" or the firmware folder $appdir: $help" \
    bash -c '[[ $1 == *"Optionen:"* && $1 == *"Firmware-Dateien: $2"* ]]' _ "$help" "$appdir"

# ---- The validators ---------------------------------------------------------------------------
output=$(desktop-file-validate "$stage/usr/share/applications/$appid.desktop" 2>&1)
check "desktop-file-validate: $output" test -z "$output"
output=$(appstreamcli validate --no-net "$stage/usr/share/metainfo/$appid.metainfo.xml" 2>&1)
check "appstreamcli validate: $output" test $? = 0
output=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$stage/usr/share/man/man1/$program.1.gz" 2>&1 >/dev/null)
check "man -l warns: $output" test -z "$output"

# ---- Firmware files: only what the program's own check accepts --------------------------------
samples=$work/samples
mkdir -p "$samples"
cp "$build/bin/qx31_tp_update_00_31_120936.dfu" "$build/bin/qx31_wd_update_00_50_3A7CE2CA.dfu" "$samples/"
if FIRMWARE_DIR="$samples" DESTDIR="$work/refused" cmake --install "$build" --prefix /usr >"$work/refused.log" 2>&1; then
    fail "the simulator's sample images were installed from FIRMWARE_DIR"
else
    check "the refused install does not say which file the check refused and why: $(cat "$work/refused.log")" \
        grep -q "qx31_tp_update_00_31_120936.dfu: an image for simulated devices only" "$work/refused.log"
    dfu_files=$(find "$work/refused" -name '*.dfu' 2>/dev/null)
    check "a refused firmware file was installed all the same: $dfu_files" test -z "$dfu_files"
fi
# The same images with the simulator's mark blanked and the DFU suffix's CRC written anew: what a
# product file looks like to the check.
real=$work/real
mkdir -p "$real"
for file in "$samples"/*.dfu; do
    python3 - "$file" "$real/$(basename "$file")" <<'PY'
import sys, zlib
data = bytearray(open(sys.argv[1], "rb").read())
mark = b"SIMULATED DEVICES ONLY"
at = data.find(mark)
data[at:at + len(mark)] = bytes(len(mark))
data[-4:] = (zlib.crc32(bytes(data[:-4])) ^ 0xFFFFFFFF).to_bytes(4, "little")
open(sys.argv[2], "wb").write(data)
PY
done
if ! FIRMWARE_DIR="$real" DESTDIR="$work/withfiles" cmake --install "$build" --prefix /usr >"$work/withfiles.log" 2>&1; then
    fail "FIRMWARE_DIR with usable files was refused: $(tail -3 "$work/withfiles.log")"
else
    json=$(run_installed "$work/withfiles" -RETURN_UPDATE_MODE_STATUS --json -SIMULATE_DEVICES=00.30,00.49 2>/dev/null)
    status=$?
    check "with FIRMWARE_DIR's files installed the query ended with $status, not 5 (an update is needed)" test "$status" = 5
    check "with FIRMWARE_DIR the installed files are not seen: $json" \
        bash -c '[[ $(grep -o "\"file_present\":true" <<<"$1" | wc -l) == 2 ]]' _ "$json"
fi

# ---- The Debian package ------------------------------------------------------------------------
if command -v lintian >/dev/null && command -v cpack >/dev/null; then
    if (cd "$build" && env -u FIRMWARE_DIR cpack -G DEB -B "$work/package" >"$work/cpack.log" 2>&1); then
        deb=$(ls "$work"/package/*.deb 2>/dev/null | head -n1)
        check "cpack wrote no .deb: $(cat "$work/cpack.log")" test -n "$deb"
        if [ -n "$deb" ]; then
            depends=$(dpkg-deb -f "$deb" Depends)
            check "the package's dependencies were not read from its binaries (Depends: $depends)" \
                bash -c '[[ $1 == *libusb-1.0-0* && $1 == *libexpat1* && $1 == *libsdl2* ]]' _ "$depends"
            output=$(lintian --fail-on error --suppress-tags "$(tr '\n' ',' <"$source/tests/Install/lintian-accepted")" "$deb" 2>&1)
            check "lintian finds errors in the package: $output" test $? = 0
        fi
    else
        fail "cpack failed: $(tail -5 "$work/cpack.log")"
    fi
else
    fail "lintian or cpack is missing (scripts/install-deps.sh installs them)"
fi

echo "$passed passed, $failed failed"
exit "$failed"

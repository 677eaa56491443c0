#!/usr/bin/env bash
# Query mode on a USB bus, as an installer on a real machine meets it: the whole process of
# "-RETURN_UPDATE_MODE_STATUS" with the real libusb backend (no simulated devices) on a bus that
# umockdev emulates, with the controller (2C1A:8010, bcdDevice 0.30) and the wheel display
# (2C1A:B010, bcdDevice 0.49) in normal mode, next to `dfu-util -l` on the same bus. Both run
# inside one umockdev-run, interleaved, so that the preloaded emulation and whatever else the
# machine does weigh on both alike. Prints the median of each and their ratio, and fails when the
# ratio is above the target or the query's answer is not "an update is needed" (exit status 5).
#
#   scripts/bench-query-usb.sh [program]       default build-bench/bin/xr4000-nova-updater
#   QUERY_USB_BENCH_RUNS=n                      runs of each (default 200)
set -euo pipefail
cd "$(dirname "$0")/.."
program=$(realpath "${1:-build-bench/bin/xr4000-nova-updater}")
runs=${QUERY_USB_BENCH_RUNS:-200}
target_ratio=1.5

for tool in umockdev-run dfu-util; do
    if ! command -v "$tool" >/dev/null; then
        echo "bench-query-usb: $tool is not installed (scripts/install-deps.sh)" >&2
        exit 1
    fi
done

sandbox=$(mktemp -d)
trap 'rm -rf "$sandbox"' EXIT
mkdir -p "$sandbox/run"

# One device in umockdev's description format, as the kernel shows it in sysfs: the device
# descriptor (bcdDevice little-endian at bytes 12-13), one configuration with one audio-control
# interface, as a controller in normal mode has.
describe() {
    local port=$1 address=$2 product=$3 bcd=$4
    local bcd_le=${bcd:2:2}${bcd:0:2} product_le=${product:2:2}${product:0:2}
    cat <<DEVICE
P: /devices/pci0000:00/0000:00:14.0/usb1/1-$port
N: bus/usb/001/$address
E: SUBSYSTEM=usb
E: DEVTYPE=usb_device
E: DRIVER=usb
E: BUSNUM=001
E: DEVNUM=$address
E: DEVNAME=/dev/bus/usb/001/$address
E: PRODUCT=2c1a/${product,,}/${bcd#00}
A: busnum=1\n
A: devnum=$((10#$address))\n
A: bConfigurationValue=1\n
A: speed=480\n
A: idVendor=2c1a\n
A: idProduct=${product,,}\n
A: bcdDevice=$bcd\n
H: descriptors=12010002000000401A2C${product_le}${bcd_le}01020301090212000101008032090400000001010000

DEVICE
}
describe 1 002 8010 0030 >"$sandbox/controller.umockdev"
describe 2 003 B010 0049 >"$sandbox/wheel.umockdev"

# The program with its firmware files as an installation has them. The build's files are marked
# for simulated devices only, which the program refuses on a real bus; the copies here have the
# mark blanked and the DFU suffix's CRC written anew, so that the query reads and compares the
# versions as it does with a shipped file (0.31 for the controller: an update is needed).
mkdir -p "$sandbox/bin"
cp "$program" "$sandbox/bin/"
shopt -s nullglob
for file in "$(dirname "$program")"/*.dfu; do
    python3 - "$file" "$sandbox/bin/$(basename "$file")" <<'UNMARK'
import sys, zlib
data = bytearray(open(sys.argv[1], "rb").read())
mark = b"SIMULATED DEVICES ONLY"
at = data.find(mark)
if at >= 0:
    data[at:at + len(mark)] = bytes(len(mark))
data[-4:] = (zlib.crc32(bytes(data[:-4])) ^ 0xFFFFFFFF).to_bytes(4, "little")
open(sys.argv[2], "wb").write(data)
UNMARK
done
program=$sandbox/bin/$(basename "$program")

# The measuring loop runs inside the emulation; it prints one line per pair of runs:
# "<query µs> <dfu-util µs>", then the query's exit status.
cat >"$sandbox/measure.sh" <<'MEASURE'
#!/usr/bin/env bash
set -u
program=$1 runs=$2
time_one() {
    local start=$EPOCHREALTIME
    "$@" >/dev/null 2>&1
    local end=$EPOCHREALTIME
    echo $(( (${end/./} - ${start/./}) ))
}
for ((i = 0; i < runs; i++)); do
    echo "$(time_one "$program" -RETURN_UPDATE_MODE_STATUS) $(time_one dfu-util -l)"
done
"$program" -RETURN_UPDATE_MODE_STATUS >/dev/null 2>&1
echo "status $?"
MEASURE

export HOME=$sandbox XDG_CONFIG_HOME=$sandbox/config XDG_DATA_HOME=$sandbox/data XDG_RUNTIME_DIR=$sandbox/run
umockdev-run --device "$sandbox/controller.umockdev" --device "$sandbox/wheel.umockdev" -- \
    bash "$sandbox/measure.sh" "$program" "$runs" >"$sandbox/times"

status=$(awk '$1 == "status" { print $2 }' "$sandbox/times")
median_us() { awk -v c="$1" '$1 != "status" { print $c }' "$sandbox/times" | sort -n |
              awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
query=$(median_us 1)
dfu=$(median_us 2)
ratio=$(awk -v q="$query" -v d="$dfu" 'BEGIN { printf "%.2f", q / d }')

printf '%-52s %10s %10s %8s\n' "query on the emulated bus, $runs runs each (median)" "query" "dfu-util -l" "ratio"
printf '%-52s %7.2f ms %8.2f ms %8s\n' "2C1A:8010 0.30 + 2C1A:B010 0.49, normal mode (exit $status)" \
    "$(awk -v a="$query" 'BEGIN { print a / 1000 }')" "$(awk -v a="$dfu" 'BEGIN { print a / 1000 }')" "$ratio"
echo "RATIO query_mode_usb_over_dfu_util_list=$ratio target<=$target_ratio"
if [ "$status" != 5 ]; then
    echo "bench-query-usb: the query answered exit status $status, not 5 (an update is needed)" >&2
    exit 1
fi
if awk -v r="$ratio" -v t="$target_ratio" 'BEGIN { exit !(r > t) }'; then
    echo "bench-query-usb: the query takes $ratio times as long as dfu-util -l (target at most $target_ratio)" >&2
    exit 1
fi

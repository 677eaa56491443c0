#!/usr/bin/env bash
# Runs test programs as an unprivileged user (nobody, 65534), for the tests that create or refuse
# files: as root every file may be read and written whatever its mode, so a file made with the
# wrong mode passes every test there.
#
#   tests/Support/run-unprivileged.sh <test program> [<test program> ...] [-- <gtest arguments>]
#
# Each program runs with HOME, XDG_CONFIG_HOME, XDG_DATA_HOME, XDG_STATE_HOME, XDG_CACHE_HOME,
# XDG_RUNTIME_DIR and TMPDIR in a fresh folder that user owns, all groups and capabilities dropped.
# A program that user cannot reach where it is built (a build tree below a folder closed to
# others) is copied into that folder first; the tests' own data stays where the build put it, so
# the script says when that user cannot read it. Exits 77 (ctest's skip) when not run as root,
# since only root can take another user's identity.
set -euo pipefail

user=65534
if [ "$(id -u)" -ne 0 ]; then
    echo "run-unprivileged: skipped: not running as root, so the tests already run as an unprivileged user ($(id -un))"
    exit 77
fi
if ! command -v setpriv >/dev/null 2>&1; then
    echo "run-unprivileged: skipped: setpriv (util-linux) is not installed"
    exit 77
fi

programs=()
while [ $# -gt 0 ] && [ "$1" != "--" ]; do
    programs+=("$(realpath "$1")")
    shift
done
[ "${1:-}" = "--" ] && shift
if [ ${#programs[@]} -eq 0 ]; then
    echo "run-unprivileged: no test program given" >&2
    exit 2
fi

as_user() {
    setpriv --reuid="$user" --regid="$user" --clear-groups --inh-caps=-all "$@"
}

root=$(mktemp -d /tmp/zt-unprivileged-XXXXXX)
trap 'rm -rf "$root"' EXIT
for folder in home config data state cache runtime tmp bin; do
    mkdir -p "$root/$folder"
done
chmod 0700 "$root/runtime"
chown -R "$user:$user" "$root"
chmod 0755 "$root"

# Tests find the sources through absolute paths compiled in (firmware files, fuzz seeds).
source_dir=$(cd "$(dirname "$0")/../.." && pwd)
if ! as_user test -r "$source_dir/CMakeLists.txt"; then
    echo "run-unprivileged: user $user cannot read the source tree $source_dir; make it readable (chmod o+rx on each folder of the path)" >&2
    exit 1
fi

failed=()
for program in "${programs[@]}"; do
    name=$(basename "$program")
    run="$program"
    if ! as_user test -x "$program"; then
        cp "$program" "$root/bin/$name"
        chown "$user:$user" "$root/bin/$name"
        run="$root/bin/$name"
        echo "run-unprivileged: $program is out of user $user's reach; running a copy"
    fi
    echo "run-unprivileged: $name as user $user"
    if ! (cd "$root/tmp" && env -i PATH=/usr/bin:/bin LANG=C.UTF-8 \
            HOME="$root/home" XDG_CONFIG_HOME="$root/config" XDG_DATA_HOME="$root/data" \
            XDG_STATE_HOME="$root/state" XDG_CACHE_HOME="$root/cache" XDG_RUNTIME_DIR="$root/runtime" \
            TMPDIR="$root/tmp" setpriv --reuid="$user" --regid="$user" --clear-groups --inh-caps=-all \
            "$run" "$@"); then
        failed+=("$name")
    fi
done
if [ ${#failed[@]} -ne 0 ]; then
    echo "run-unprivileged: failed as user $user: ${failed[*]}" >&2
    exit 1
fi
echo "run-unprivileged: ${#programs[@]} programs passed as user $user"

#!/usr/bin/env bash
# How the program and its window module are linked, read from the linked files:
#   - one C++ runtime, the shared one: both load libstdc++.so.6, and the program exports none of
#     the runtime's symbols (namespace std, __cxa_*, __gxx_*) for the module to bind to;
#   - libusb and Expat are the system's shared libraries;
#   - the window's libraries (SDL2, Cairo, Pango, GIO) come only with the module, so query and
#     silent runs never load them.
#
#   ProgramLinkingTest.sh <program> <window module> [sanitizer]
# With a sanitizer (address, thread) clang links the program with --export-dynamic where the
# sanitizer run-time library ships no list of its interceptors (as Debian's does not), so the
# program then exports every symbol it has: the runtime-export check is for the other builds.
set -uo pipefail
program=$1 module=$2 sanitizer=${3:-}
runtime_entries='|__cxa|__gxx'
failed=0 passed=0
expect() { # expect <what went wrong> <command...>
    local what=$1
    shift
    if "$@"; then passed=$((passed + 1)); else echo "FAILED: $what" >&2; failed=$((failed + 1)); fi
}
needed() { objdump -p "$1" | awk '$1 == "NEEDED" { print $2 }'; }

# Mangled names in namespace std: _ZNSt..., _ZNKSt..., _ZSt..., the abbreviations Sa/Sb/Ss/Si/So/Sd,
# and their virtual tables, type information, guards and local statics; the runtime's own
# namespaces (__gnu_cxx, __cxxabiv1) and C entries (__cxa_*, __gxx_*).
runtime_exports=$(nm -D --defined-only "$program" | awk '{ print $NF }' |
    grep -E "^_Z(T[VISTHW]|GV|GVZ|Z)?N?K?(S[tabsiod]|[0-9]+__)$runtime_entries" | c++filt | head -n 10)
if [ -z "$sanitizer" ]; then
    expect "the program exports the C++ runtime's symbols: $runtime_exports" test -z "$runtime_exports"
fi

program_needs=$(needed "$program" | tr '\n' ' ')
module_needs=$(needed "$module" | tr '\n' ' ')
for library in libstdc++.so.6 libusb-1.0.so.0 libexpat.so.1; do
    expect "the program does not load $library as a shared library (it needs: $program_needs)" \
        grep -qw -- "$library" <<<"$program_needs"
done
expect "the window module does not load the shared C++ runtime (it needs: $module_needs)" \
    grep -qw -- libstdc++.so.6 <<<"$module_needs"
window_libraries=$(needed "$program" | grep -E '^lib(SDL2|cairo|pango|gio|glib|gobject)' | tr '\n' ' ')
expect "the program loads the window's libraries at every start: $window_libraries" test -z "$window_libraries"
expect "the window module does not load SDL2 itself (it needs: $module_needs)" grep -q 'libSDL2' <<<"$module_needs"
undefined=$(nm -D --undefined-only "$module" | awk '{ print $NF }' |
    grep -E '^_Z(T[VIST])?N?K?[1-9][0-9]?[A-Za-z]' | c++filt | head -n 5)
expect "the window module leaves symbols for the program to define: $undefined" test -z "$undefined"
# The module's singletons are the program's: the program exports the dual updater's instance
# operations (a global-namespace class) and the debug output's (namespace ZT).
for name in 'LDualUpdater::GetInstance()' 'ZT::DebugOutput::Instance()'; do
    expect "the program does not export $name for the module to bind to" \
        grep -qF -- "$name" < <(nm -D --defined-only "$program" | awk '{ print $NF }' | c++filt)
done

echo "$passed passed, $failed failed"
exit "$failed"

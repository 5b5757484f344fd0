#!/usr/bin/env bash
# `make` builds natively and, where the MinGW-w64 cross compilers are installed, the Windows plug-ins
# too (as the README says); without them it says so. Dry runs only: nothing is built here.
#   tests/tools/make_test.sh SOURCE_DIR
set -euo pipefail
cd "$1"
unset MAKEFLAGS MAKELEVEL MFLAGS
fail() { echo "make_test: $*" >&2; exit 1; }

dry=$(make -n)
grep -q -- '-B build ' <<<"$dry" || fail "make does not build natively"
if command -v i686-w64-mingw32-g++-posix >/dev/null && command -v x86_64-w64-mingw32-g++-posix >/dev/null; then
  grep -q 'scripts/test-windows --build-only' <<<"$dry" || fail "make does not cross-build the Windows plug-ins"
fi
without=$(make -n HAVE_MINGW=)
grep -q 'no MinGW-w64 cross compilers' <<<"$without" || fail "make without cross compilers does not say so"
grep -q 'scripts/test-windows' <<<"$without" && fail "make without cross compilers still cross-builds"
echo "make_test: ok"

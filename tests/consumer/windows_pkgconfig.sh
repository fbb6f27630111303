#!/usr/bin/env bash
# A Windows program built against the installed library with nothing but what
# `pkg-config --cflags --libs --static quorlink` says, as a MinGW user builds
# one, then run (through the emulator when cross-built).
#
#   tests/consumer/windows_pkgconfig.sh BUILD_DIR CXX [EMULATOR...]
set -euo pipefail
build=$1
cxx=$2
shift 2
src=$(cd "$(dirname "$0")/../.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cmake --install "$build" --prefix "$work/prefix" >/dev/null
pc=$(dirname "$(find "$work/prefix" -name quorlink.pc)")
flags=$(PKG_CONFIG_PATH=$pc PKG_CONFIG_LIBDIR=$pc pkg-config --cflags --libs --static quorlink)
echo "pkg-config: $flags"
# shellcheck disable=SC2086
"$cxx" -std=c++20 -static -o "$work/consumer.exe" "$src/tests/consumer/windows_main.cpp" $flags
"$@" "$work/consumer.exe"

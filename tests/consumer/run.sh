#!/usr/bin/env bash
# Installs quorlink into temporary prefixes, static and shared, and builds and
# runs a small consumer three ways: find_package, pkg-config and
# add_subdirectory (with GoogleTest hidden, as a parent project without it).
#
#   tests/consumer/run.sh [STATIC_BUILD_DIR]
#
# With a build directory of a static build (CI passes build/default), its
# library is installed instead of building another one. The shared library is
# built once, by the add_subdirectory consumer, and installed from there.
set -euo pipefail
src=$(cd "$(dirname "$0")/../.." && pwd)
consumer=$src/tests/consumer
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# Unoptimised: only whether it builds, links and runs matters here.
gen=(-G Ninja -DCMAKE_BUILD_TYPE=)

say() { printf '== %s\n' "$*"; }

# Nothing private may be installed: no backend headers, no test support.
check_prefix() {
  local prefix=$1
  [ -f "$prefix/include/quorlink/core/Application.h" ] && [ -f "$prefix/include/quorlink/core/Version.h" ]
  # Every header under the one prefix folder, so no generic name reaches a program's include path.
  if [ "$(ls "$prefix/include")" != quorlink ]; then
    echo "headers installed outside include/quorlink under $prefix: $(ls "$prefix/include")" >&2
    return 1
  fi
  if [ -e "$prefix/include/quorlink/platform/posix" ] || [ -e "$prefix/include/quorlink/tests" ] ||
    [ -e "$prefix/include/quorlink/platform/Kernel.h" ]; then
    echo "private headers installed under $prefix" >&2
    return 1
  fi
}

# find_package and pkg-config against one prefix.
use_prefix() {
  local kind=$1 prefix=$2 static=()
  check_prefix "$prefix"
  [ "$kind" = static ] && static=(--static)
  say "$kind: find_package"
  cmake -S "$consumer" -B "$work/fp-$kind" "${gen[@]}" -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
  cmake --build "$work/fp-$kind" >/dev/null
  "$work/fp-$kind/consumer"
  say "$kind: pkg-config"
  local pc
  pc=$(dirname "$(find "$prefix" -name quorlink.pc)")
  # shellcheck disable=SC2046
  c++ -std=c++20 -o "$work/pc-$kind" "$consumer/main.cpp" \
    $(PKG_CONFIG_PATH=$pc pkg-config --cflags --libs "${static[@]}" quorlink)
  LD_LIBRARY_PATH=$(PKG_CONFIG_PATH=$pc pkg-config --variable=libdir quorlink) "$work/pc-$kind"
}

say "top level without GoogleTest or CLI11: the install's configure needs neither"
cmake -S "$src" -B "$work/plain" "${gen[@]}" -DCMAKE_DISABLE_FIND_PACKAGE_GTest=ON \
  -DCMAKE_DISABLE_FIND_PACKAGE_CLI11=ON >/dev/null
if [ -e "$work/plain/tests" ] || grep -q quorlink_cli "$work/plain/build.ninja"; then
  echo "a configure without GoogleTest or CLI11 still builds the tests or the program" >&2
  exit 1
fi

say "shared: add_subdirectory, without GoogleTest"
cmake -S "$consumer" -B "$work/sub" "${gen[@]}" -DQUORLINK_SOURCE_DIR="$src" \
  -DCMAKE_DISABLE_FIND_PACKAGE_GTest=ON -DBUILD_SHARED_LIBS=ON -DQUORLINK_INSTALL=ON -DQUORLINK_UNITY_BUILD=ON \
  --no-warn-unused-cli >/dev/null
cmake --build "$work/sub" -j2 >/dev/null
"$work/sub/consumer"
if [ -e "$work/sub/quorlink/tests" ] || [ -e "$work/sub/quorlink/bench" ]; then
  echo "add_subdirectory built the tests or benchmarks" >&2
  exit 1
fi
lib=$(find "$work/sub/quorlink" -maxdepth 1 -name 'libquorlink.so.*.*')
readelf -d "$lib" | grep -q 'SONAME.*libquorlink\.so\.[0-9]*\]'
say "shared: $(nm -D --defined-only "$lib" | wc -l) symbols exported, $(nm -D --defined-only -C "$lib" | grep -c ' quorlink::') of them quorlink::"
cmake --install "$work/sub/quorlink" --prefix "$work/shared" >/dev/null
use_prefix shared "$work/shared"

if [ $# -ge 1 ]; then
  cmake --install "$1" --prefix "$work/static" >/dev/null
else
  cmake -S "$src" -B "$work/static-build" "${gen[@]}" -DQUORLINK_TESTS=OFF -DQUORLINK_BENCH=OFF \
    -DQUORLINK_EXAMPLES=OFF -DQUORLINK_PROGRAM=OFF >/dev/null
  cmake --build "$work/static-build" -j2 >/dev/null
  cmake --install "$work/static-build" --prefix "$work/static" >/dev/null
fi
use_prefix static "$work/static"
say "consumer: all ways passed"

#!/usr/bin/env bash
# Fails when a fuzz target loads no more coverage counters than its own
# objects hold: the library it links was not instrumented, and the fuzzer
# would be blind to it.
#   check_counters.sh TARGET OBJECT...
set -euo pipefail
target=$1
shift
own=0
for object in "$@"; do
  sections=$(objdump -h "$object")
  for size in $(awk '$2 == "__sancov_cntrs" { print $3 }' <<<"$sections"); do
    own=$((own + 16#$size))
  done
done
loaded=$("$target" -runs=0 2>&1 | sed -n 's/.*Loaded [0-9]* modules *(\([0-9]*\) inline 8-bit counters).*/\1/p' | head -1)
if [ -z "$loaded" ] || [ "$loaded" -le "$own" ]; then
  echo "$(basename "$target"): ${loaded:-no} counters loaded, $own of them its own: the library is not instrumented" >&2
  exit 1
fi
echo "$(basename "$target"): $loaded counters, $own its own, $((loaded - own)) the library's"

#!/usr/bin/env bash
# brom-play links the engine once: inside the public library (libbrom.a), never the engine's layer
# libraries beside it.
#   links_one_engine.sh NINJA BUILD_DIR
set -euo pipefail
line=$("$1" -C "$2" -t commands brom-play | tail -n 1)
grep -q 'api/libbrom\.a' <<<"$line" || { echo "FAIL: brom-play does not link libbrom.a: $line" >&2; exit 1; }
if grep -Eo 'libbrom_(module|player|audio)\.a' <<<"$line"; then
  echo "FAIL: brom-play links the engine's layers besides libbrom.a" >&2
  exit 1
fi
echo "brom-play links the engine once, in libbrom.a"

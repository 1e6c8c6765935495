#!/usr/bin/env bash
# Builds ferrule and runs it once in a fresh scratch directory, with message boxes printed to
# standard error, then shows what it left behind and its exit code.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cmake --preset default >/dev/null
cmake --build --preset default --target ferrule
scratch="$(mktemp -d)"
cd "$scratch"
set +e
VTN_MSGBOX="${VTN_MSGBOX:-stderr}" "$root/build/default/ferrule"
code=$?
set -e
echo "ferrule exit code: $code"
echo "files left in $scratch:"
ls -l "$scratch"

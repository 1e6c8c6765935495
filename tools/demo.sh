#!/usr/bin/env bash
# Builds ferrule and runs it once in a fresh scratch directory holding a sample request file
# (Mossgate.ini), with message boxes printed to standard error, then shows what the run left
# behind and its exit code. Installs the build tools first when the machine lacks them.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"

missing=()
for package in cmake ninja-build g++; do
  dpkg -s "$package" >/dev/null 2>&1 || missing+=("$package")
done
if ((${#missing[@]})); then
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq && apt-get install -y -qq "${missing[@]}"
fi

cmake -S "$root" -B "$root/build/demo" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DVTN_BUILD_TESTS=OFF >/dev/null
cmake --build "$root/build/demo" --target ferrule

scratch="$(mktemp -d)"
cd "$scratch"
printf '"Northwind Pack","C:\\PACKS\\NORTHWIND"\r\n' > Mossgate.ini
echo "== running ferrule in $scratch with the request:"
cat Mossgate.ini
set +e
VTN_MSGBOX="${VTN_MSGBOX:-stderr}" "$root/build/demo/ferrule"
code=$?
set -e
echo "== ferrule exit code: $code"
echo "== files left behind:"
ls -l "$scratch"

#!/bin/sh
# Rebuilds the generated character tables of runtime/platform/ from ICU (libicu-dev).
# Usage: tools/collation/gen_platform_tables.sh   (from anywhere in the repository)
set -eu
root=$(cd "$(dirname "$0")/../.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
c++ -std=c++20 -O1 -Wall -Wextra -I"$root" "$root/tools/collation/gen_platform_tables.cpp" \
  -o "$work/gen_platform_tables" $(pkg-config --cflags --libs icu-i18n icu-uc)
"$work/gen_platform_tables" "$root/runtime/platform"
echo "wrote runtime/platform/collation_order_table.inc and char_class_table.inc"

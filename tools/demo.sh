#!/usr/bin/env bash
# ferrule at work. Builds ferrule and the run-time, then in a scratch directory:
#   1. registers a first pack from a request written in a UTF-8 shell (converted to 1251),
#   2. registers the same pack again under another spelling and path: it is updated, not added,
#   3. registers a second pack, whose path lies below the current directory (stored relative),
#   4. runs once more beside a damaged settings table: the warning a person would see.
# After each run it prints the pack table and the settings table, read back by a small C++ program
# that declares the two files the way any program using the run-time would, and the message
# boxes the run showed (VTN_MSGBOX_LOG). Installs the build tools (and the libraries the build
# configures the project's tools with) first when the machine lacks them.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"

missing=()
for package in cmake ninja-build g++ libcli11-dev nlohmann-json3-dev libsqlite3-dev; do
  dpkg -s "$package" >/dev/null 2>&1 || missing+=("$package")
done
if ((${#missing[@]})); then
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq && apt-get install -y -qq "${missing[@]}"
fi

build="$root/build/demo"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVTN_BUILD_TESTS=OFF \
  -DVTN_WITH_GUI=OFF >/dev/null
cmake --build "$build" --target ferrule vtn_runtime >/dev/null
ferrule="$build/ferrule"

scratch="$(mktemp -d)"
trap 'rm -rf "$scratch"' EXIT
cd "$scratch"

# The table reader: declares PACKNAME and SETUP and lists them in number order.
cat >show_tables.cpp <<'CPP'
#include <cstdio>
#include <cstring>
#include <string>

#include "runtime/files/file_declaration.hpp"
#include "runtime/files/file_statements.hpp"
#include "runtime/files/tarnwell/tarnwell_driver.hpp"
#include "runtime/platform/code_pages.hpp"
#include "runtime/values/error_state.hpp"
#include "runtime/values/string_functions.hpp"

// Pads UTF-8 text to `width` characters (printf counts bytes).
static std::string padded(std::string text, size_t width) {
  size_t chars = 0;
  for (unsigned char c : text) chars += (c & 0xC0) != 0x80;
  if (chars < width) text.append(width - chars, ' ');
  return text;
}

static void show(const char* prefix, const char* name, const char* third_field) {
  vtn::File table{vtn::FileDeclaration(prefix)
                      .driver(vtn::tarnwell_entry)
                      .name(name)
                      .field("NUMBER", vtn::ftype::SHORT)
                      .field("NAME", vtn::ftype::STRING(40))
                      .field(third_field, vtn::ftype::STRING(120))
                      .key("BY_NUMBER", {"NUMBER"}, vtn::KA_PRIMARY | vtn::KA_NOCASE | vtn::KA_OPT)};
  std::printf("  %s.TWL\n", name);
  vtn::OPEN(table, 0x40);  // read-only, shared
  if (vtn::ERRORNUMBER() == 2) {
    std::printf("    (not created yet)\n");
    return;
  }
  if (vtn::ERRORNUMBER() != 0) {
    std::printf("    (cannot open: %s)\n", vtn::platform::ansi_to_utf8(vtn::ERRORTEXT()).c_str());
    return;
  }
  std::printf("    %6s  %-24s  %s\n", "NUMBER", "NAME", third_field);
  vtn::SET(table.key("BY_NUMBER"));
  int rows = 0;
  for (vtn::NEXT(table); vtn::ERRORNUMBER() == 0; vtn::NEXT(table), ++rows) {
    const char* r = table.record();
    short number;
    std::memcpy(&number, r, 2);
    const std::string text = vtn::platform::ansi_to_utf8(vtn::clip({r + 2, 40}));
    const std::string path = vtn::platform::ansi_to_utf8(vtn::clip({r + 42, 120}));
    std::printf("    %6d  %s  %s\n", number, padded(text, 24).c_str(),
                path.empty() ? "(blank)" : path.c_str());
  }
  if (rows == 0) std::printf("    (no records)\n");
  vtn::CLOSE(table);
}

int main() {
  show("PNM", "PACKNAME", "PATH");
  show("SET", "SETUP", "VALUE");
}
CPP
g++ -std=c++20 -O1 -I"$root" show_tables.cpp "$build/libvtn_runtime.a" -pthread -o show_tables

boxes="$scratch/boxes.log"
run() {
  echo "-- request Mossgate.ini (1251, shown in UTF-8):"
  if [[ -f Mossgate.ini ]]; then iconv -f CP1251 -t UTF-8 Mossgate.ini | sed 's/^/  /'; else echo "  (none)"; fi
  rm -f "$boxes"
  set +e
  VTN_MSGBOX="${VTN_MSGBOX:-stderr}" VTN_MSGBOX_LOG="$boxes" "$ferrule" 2>/dev/null
  local code=$?
  set -e
  echo "-- ferrule exit code: $code; request file $( [[ -f Mossgate.ini ]] && echo 'still waiting' || echo 'consumed')"
  echo "-- tables after the run:"
  "$scratch/show_tables"
  echo "-- message boxes shown:"
  if [[ -s "$boxes" ]]; then sed 's/^/  /' "$boxes"; else echo "  (none: nothing went wrong)"; fi
  echo
}

mkdir work && cd work
echo "== in $PWD: the tables before the first run"
"$scratch/show_tables"
echo

echo "== 1. a first pack"
printf '"Северный пакет","/srv/packs/north"\r\n' | iconv -f UTF-8 -t CP1251 >Mossgate.ini
run

echo "== 2. the same pack, spelled in capitals, moved: updated, not added"
printf '"СЕВЕРНЫЙ ПАКЕТ","/srv/packs/north-2"\r\n' | iconv -f UTF-8 -t CP1251 >Mossgate.ini
run

echo "== 3. a second pack below the current directory: stored relative to it"
printf '"Южный пакет","%s/packs/south"\r\n' "$PWD" | iconv -f UTF-8 -t CP1251 >Mossgate.ini
run

echo "== 4. the settings table is damaged: the warning, and the request stays for later"
printf 'this is not a record file' >SETUP.TWL
printf '"Восточный пакет","/srv/packs/east"\r\n' | iconv -f UTF-8 -t CP1251 >Mossgate.ini
run

#include "runtime/platform/char_classes.hpp"

namespace vtn::platform {
namespace {

struct CharClassEntry {
  uint8_t alpha;
  uint8_t upper;
  uint8_t lower;
  uint8_t to_upper;
  uint8_t to_lower;
};

#include "runtime/platform/char_class_table.inc"

}  // namespace

bool is_char_alpha(uint8_t c) {
  return kCharClass[c].alpha != 0;
}

bool is_char_upper(uint8_t c) {
  return kCharClass[c].upper != 0;
}

bool is_char_lower(uint8_t c) {
  return kCharClass[c].lower != 0;
}

uint8_t char_upper(uint8_t c) {
  return kCharClass[c].to_upper;
}

uint8_t char_lower(uint8_t c) {
  return kCharClass[c].to_lower;
}

void char_upper_buffer(char* text, size_t length) {
  for (size_t i = 0; i < length; ++i) {
    text[i] = static_cast<char>(char_upper(static_cast<uint8_t>(text[i])));
  }
}

void char_lower_buffer(char* text, size_t length) {
  for (size_t i = 0; i < length; ++i) {
    text[i] = static_cast<char>(char_lower(static_cast<uint8_t>(text[i])));
  }
}

}  // namespace vtn::platform

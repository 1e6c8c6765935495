// StringStack: the process-wide stack of at most 32 temporary strings through which every string
// argument and result of the run-time travels. Producers push one entry, consumers pop one; the
// first argument of a function lies on top.
//
// An entry is borrowed (points into storage owned elsewhere), owned (a heap buffer freed when the
// entry is popped) or inline (up to 20 bytes inside the entry: numbers converted to text). The OLE
// kinds (wide strings, VARIANTs, automation objects) are turned into narrow text before anything
// reads them. A push onto a full stack is ignored; popping an empty stack is stack corruption and
// ends the program with the fatal error 500 + n, "String Stack Error".
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <variant>

namespace vtn {

enum class StackEntryKind : uint8_t {
  kBorrowed = 0,
  kOwned = 1,
  kInline = 2,
  kWideOwned = 4,
  kWideBorrowed = 5,
  kVariantOwned = 8,
  kVariantBorrowed = 10,
  kObject = 16,
};

// The value of an OLE VARIANT entry, as far as the run-time needs it: empty, a number or a wide
// text.
using StackVariant = std::variant<std::monostate, int32_t, double, std::u16string>;

// What an OLE entry holds until it is read as narrow text.
struct StackOleValue {
  std::u16string wide;   // kWide*: the wide text
  StackVariant variant;  // kVariant*: the value
};

struct StackEntry {
  static constexpr uint32_t kInlineCapacity = 20;

  StackEntryKind kind = StackEntryKind::kBorrowed;
  char* text = nullptr;  // the bytes; for kInline it points at inline_text
  uint32_t length = 0;
  char inline_text[kInlineCapacity] = {};
  std::unique_ptr<StackOleValue> ole;  // OLE kinds only, so that plain entries stay cheap

  std::string_view view() const { return {text, length}; }
};

class StringStack {
 public:
  static constexpr int kCapacity = 32;
  // The longest text a string function pads or widens a text to (256 MiB). Asking for a longer
  // one (LEFT told to pad a text to two gigabytes, say), or for a buffer the system cannot supply,
  // is the run-time's memory error: the fatal run-time error 501, "Out of memory in String
  // Stack!". Nothing is allocated or written first, so the process never aborts on the size.
  static constexpr uint32_t kMaxTextLength = 1u << 28;

  // True when a text of `length` bytes may be made; otherwise raises the memory error and, if that
  // returns (only after the program procedure has returned), gives false.
  static bool text_length_allowed(uint64_t length);

  StringStack() = default;
  StringStack(const StringStack&) = delete;
  StringStack& operator=(const StringStack&) = delete;
  ~StringStack();

  int depth() const { return static_cast<int>(top_ / kEntrySize); }

  // Pushes.
  // The top is read once and written last, so that pushes in a row, inlined, keep it in a
  // register instead of storing it and reading it back each time.
  void push_borrowed(const char* text, uint32_t length) {
    push_borrowed(std::string_view(text, text == nullptr ? 0 : length));
  }
  // A view's bytes (none when it is empty, whatever its pointer).
  void push_borrowed(std::string_view text) {
    const size_t top = top_;
    if (top >= kLimit) return;
    StackEntry& e = at(top);
    e.kind = StackEntryKind::kBorrowed;
    e.text = const_cast<char*>(text.data());
    e.length = static_cast<uint32_t>(text.size());
    top_ = top + kEntrySize;
  }
  // Takes a heap buffer of `length` bytes (null pushes an empty text).
  void push_owned(std::unique_ptr<char[]> buffer, uint32_t length);
  // Copies the text into a new owned entry (an empty one when the memory error refused it).
  void push_copy(std::string_view text);
  void push_long(int32_t value);
  void push_real(double value);
  void push_wide(std::u16string text, bool owned);
  void push_variant(StackVariant value, bool owned);
  void push_object();

  // The top entry (1) or the ones below it (2, 3, ...), as narrow text. REQUIRES: depth >= n.
  StackEntry& entry(int n = 1) {
    const size_t below = static_cast<size_t>(n) * kEntrySize;
    if (n >= 1 && below <= top_) {
      StackEntry& e = at(top_ - below);
      if (e.kind <= StackEntryKind::kInline) return e;  // already narrow text
    }
    return entry_checked(n);
  }
  std::string_view peek(int n = 1) { return entry(n).view(); }

  // Makes the top entry an owned buffer of at least `capacity` bytes holding its current text,
  // so that a string function can rewrite it in place. Returns the writable bytes, or null (the
  // entry unchanged) when the memory error refused the buffer and returned.
  char* make_writable(uint32_t capacity);

  // Pops.
  std::string pop_string();                             // the text, copied
  void pop_to_string(char* buffer, uint32_t size);      // STRING: copy, pad with spaces
  void pop_to_cstring(char* buffer, uint32_t size);     // CSTRING: at most size-1 bytes and NUL
  void pop_to_pstring(uint8_t* buffer, uint32_t size);  // PSTRING: length byte and text
  double pop_real();
  int32_t pop_long();
  // Drops the top entry.
  void release() {
    const size_t top = top_;
    if (top > 0 && holds_nothing(at(top - kEntrySize))) {
      top_ = top - kEntrySize;  // nothing to free
      return;
    }
    release_checked();
  }
  // Drops the two top entries, with one change of the depth when neither holds a buffer.
  void release_two() {
    const size_t top = top_;
    if (top >= 2 * kEntrySize &&
        both_hold_nothing(at(top - kEntrySize), at(top - 2 * kEntrySize))) {
      top_ = top - 2 * kEntrySize;
      return;
    }
    release();
    release();
  }

  // The fast path of a function of two texts: when the two top entries are borrowed or inline
  // text, sets `top` and `below` to them and returns true; the caller then drops both with
  // drop_two(). Otherwise returns false and changes nothing.
  bool peek_two_plain(std::string_view& top, std::string_view& below) const {
    const size_t offset = top_;
    if (offset < 2 * kEntrySize) return false;
    const StackEntry& a = at(offset - kEntrySize);
    const StackEntry& b = at(offset - 2 * kEntrySize);
    if (!both_hold_nothing(a, b)) return false;
    top = a.view();
    below = b.view();
    return true;
  }
  // REQUIRES: peek_two_plain() returned true, and nothing was pushed or popped since.
  void drop_two() { top_ -= 2 * kEntrySize; }

  // Pops the two top entries (first argument on top) and compares them blank-padded by the
  // collation table: negative, zero or positive.
  int compare_top_two();

  // A whole stack kept aside while another thread of the window engine runs.
  struct SavedStack {
    int depth = 0;
    StackEntry entries[kCapacity];
  };
  // Saves the whole stack into a heap block and empties it; null when the stack is empty.
  std::unique_ptr<SavedStack> save();
  // Replaces the stack by a saved one (null empties the stack); the block is consumed.
  void restore(std::unique_ptr<SavedStack> saved);

  // Drops every entry.
  void clear();

 private:
  // Borrowed and inline entries own no buffer, and narrow kinds hold no OLE value.
  static bool holds_nothing(const StackEntry& e) {
    return e.kind == StackEntryKind::kBorrowed || e.kind == StackEntryKind::kInline;
  }
  // The same for two entries in one test: kBorrowed is 0 and kInline a single bit that no other
  // kind's value is made of alone, so both hold nothing exactly when their kinds, or-ed, have no
  // other bit.
  static bool both_hold_nothing(const StackEntry& a, const StackEntry& b) {
    static_assert(static_cast<unsigned>(StackEntryKind::kBorrowed) == 0 &&
                  static_cast<unsigned>(StackEntryKind::kInline) == 2);
    return ((static_cast<unsigned>(a.kind) | static_cast<unsigned>(b.kind)) &
            ~static_cast<unsigned>(StackEntryKind::kInline)) == 0;
  }
  // An entry above the depth is dead: it keeps no buffer and no OLE value, and every push sets
  // what it reads, so resetting three fields suffices.
  StackEntry* push_slot() {
    const size_t top = top_;
    if (top >= kLimit) return nullptr;
    StackEntry& e = at(top);
    top_ = top + kEntrySize;
    e.kind = StackEntryKind::kBorrowed;
    e.text = nullptr;
    e.length = 0;
    return &e;
  }
  // The slow paths of entry() and release(): bounds, OLE entries, owned buffers.
  StackEntry& entry_checked(int n);
  void release_checked();
  StackEntry& top_checked();
  void to_narrow(StackEntry& e);
  void free_entry(StackEntry& e);

  static constexpr size_t kEntrySize = sizeof(StackEntry);
  static constexpr size_t kLimit = kCapacity * kEntrySize;

  // The entry at a byte offset into entries_ (a multiple of kEntrySize): the top is kept as the
  // offset past the top entry rather than as a count, so that reaching an entry takes no
  // multiplication, and as a size_t, which no stored length or kind can alias, so that inlined
  // pushes and pops keep it in a register.
  StackEntry& at(size_t offset) {
    return *reinterpret_cast<StackEntry*>(reinterpret_cast<char*>(entries_) + offset);
  }
  const StackEntry& at(size_t offset) const {
    return *reinterpret_cast<const StackEntry*>(reinterpret_cast<const char*>(entries_) + offset);
  }

  StackEntry entries_[kCapacity];
  size_t top_ = 0;  // depth * kEntrySize
};

namespace detail {
extern StringStack process_string_stack;
}

// The process-wide stack (constant-initialised, so usable from any static initialiser).
inline StringStack& string_stack() {
  return detail::process_string_stack;
}

}  // namespace vtn

#include "runtime/files/thread_files.hpp"

#include <cstring>
#include <memory>
#include <unordered_map>
#include <vector>

#include "runtime/files/call_sequence.hpp"
#include "runtime/files/field_info.hpp"

namespace vtn {
namespace {

// One thread's copy of one THREAD file.
struct ThreadCopy {
  FileBlock block;
  std::unique_ptr<char[]> record;
  std::vector<KeyBlock> keys;
  std::vector<KeyBlock*> key_table;
  std::vector<MemoBlock> memos;
  std::vector<MemoBlock*> memo_table;
  std::vector<std::unique_ptr<char[]>> memo_buffers;

  explicit ThreadCopy(const FileBlock& declared) : block(declared) {
    block.declared = &declared;
    block.fresh_copy = true;
    block.instance = nullptr;
    block.home_thread = std::this_thread::get_id();

    record = std::make_unique<char[]>(declared.record_length == 0 ? 1 : declared.record_length);
    clear_record(declared.record_type, record.get(), declared.record_length);
    block.record = record.get();

    keys.reserve(declared.key_count);
    for (uint8_t i = 0; i < declared.key_count; ++i) {
      KeyBlock k = *declared.keys[i];
      k.driver_data = nullptr;
      k.file = &block;
      keys.push_back(k);
    }
    for (KeyBlock& k : keys) key_table.push_back(&k);
    block.keys = key_table.empty() ? nullptr : key_table.data();

    memos.reserve(declared.memo_count);
    for (uint8_t i = 0; i < declared.memo_count; ++i) {
      MemoBlock m = *declared.memos[i];
      std::memset(m.driver_data, 0, sizeof m.driver_data);
      memo_buffers.push_back(std::make_unique<char[]>(m.size == 0 ? 1 : m.size));
      m.buffer = memo_buffers.back().get();
      memos.push_back(m);
    }
    for (MemoBlock& m : memos) memo_table.push_back(&m);
    block.memos = memo_table.empty() ? nullptr : memo_table.data();
  }

  ThreadCopy(const ThreadCopy&) = delete;
  ThreadCopy& operator=(const ThreadCopy&) = delete;

  // The thread is gone: nobody can close the file any more, so the instance goes with the copy.
  ~ThreadCopy() { discard_instance(block); }
};

struct ThreadCopies {
  std::unordered_map<const FileBlock*, std::unique_ptr<ThreadCopy>> by_declared;
};

ThreadCopies& copies() {
  thread_local ThreadCopies c;
  return c;
}

bool uses_own_copy(const FileBlock& file) {
  return (file.attributes & FA_THREAD) != 0 && file.declared == nullptr &&
         file.home_thread != std::this_thread::get_id();
}

ThreadCopy& copy_of(const FileBlock& declared) {
  auto& map = copies().by_declared;
  auto it = map.find(&declared);
  if (it == map.end()) it = map.emplace(&declared, std::make_unique<ThreadCopy>(declared)).first;
  return *it->second;
}

}  // namespace

FileBlock& thread_copy_of_file(FileBlock& file) {
  if (!uses_own_copy(file)) return file;
  return copy_of(file).block;
}

KeyBlock& thread_copy_of_key(KeyBlock& key) {
  if (key.file == nullptr || !uses_own_copy(*key.file)) return key;
  ThreadCopy& c = copy_of(*key.file);
  for (uint8_t i = 0; i < key.file->key_count; ++i)
    if (key.file->keys[i] == &key) return c.keys[i];
  return key;
}

bool take_fresh_copy(FileBlock& file) {
  if (!file.fresh_copy) return false;
  file.fresh_copy = false;
  return true;
}

size_t thread_copy_count() {
  return copies().by_declared.size();
}

}  // namespace vtn

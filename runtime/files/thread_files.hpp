// Per-thread copies of THREAD files. A FILE declared with THREAD is private to each thread: on a
// thread's first use the run-time gives that thread its own FileBlock, record buffer, KeyBlocks
// and MemoBlocks, copied from the declaration, with no instance, so that each thread opens the
// file for itself and has its own FileState. The thread that built the declaration (its home
// thread) uses the declared blocks themselves. A thread's copies, and any instance hanging on
// them, are released when the thread ends.
#pragma once

#include "runtime/files/file_block.hpp"

namespace vtn {

// The FileBlock that the calling thread uses for `file`: `file` itself unless it is a THREAD file
// used away from its home thread. Every file statement asks, so the answer for other files is
// inline; thread_copy_of_file answers for THREAD files.
FileBlock& thread_copy_of_file(FileBlock& file);
inline FileBlock& thread_file(FileBlock& file) {
  return (file.attributes & FA_THREAD) == 0 ? file : thread_copy_of_file(file);
}

// The calling thread's KeyBlock for a key of a declared file. (A MemoBlock does not name its
// file; the thread's memos are reached through thread_file(file).memos.)
KeyBlock& thread_copy_of_key(KeyBlock& key);
inline KeyBlock& thread_key(KeyBlock& key) {
  return key.file == nullptr || (key.file->attributes & FA_THREAD) == 0 ? key
                                                                        : thread_copy_of_key(key);
}

// True exactly once for a thread's copy that no call has used yet; the driver's call sequence
// uses it to make sure such a copy starts without an instance.
bool take_fresh_copy(FileBlock& file);

// Number of copies the calling thread holds (for tests and diagnostics).
size_t thread_copy_count();

}  // namespace vtn

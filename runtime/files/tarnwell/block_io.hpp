// Reads and writes of a record file, in whole 64-byte blocks, through the cipher when the file
// has one.
//
// Every read and write of a record file moves a multiple of 64 bytes so that the block cipher
// can work in place; any other size is an internal error (check 2272 reading, 2286 writing).
// A write enciphers the caller's buffer, writes it and deciphers it again, so the buffer is
// unchanged afterwards; a read deciphers what it read only when the whole request was read.
#pragma once

#include <cstdint>
#include <span>

#include "runtime/files/tarnwell/block_cipher.hpp"
#include "runtime/platform/file_handle.hpp"

namespace vtn::tarnwell {

// Returns false on a system failure (the platform's last error says which). `transferred` is
// the number of bytes read, less than asked at the end of the file.
bool read_blocks(platform::FileHandle& file, const BlockCipher* cipher, uint64_t offset,
                 std::span<uint8_t> buffer, size_t& transferred);

// Returns false on a system failure; a short write returns true with fewer bytes transferred.
bool write_blocks(platform::FileHandle& file, const BlockCipher* cipher, uint64_t offset,
                  std::span<uint8_t> buffer, size_t& transferred);

}  // namespace vtn::tarnwell

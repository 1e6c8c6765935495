#include "runtime/files/tarnwell/block_io.hpp"

#include "runtime/files/tarnwell/internal_error.hpp"

namespace vtn::tarnwell {
namespace {
constexpr int32_t kCheckReadSize = 2272;
constexpr int32_t kCheckWriteSize = 2286;
}  // namespace

bool read_blocks(platform::FileHandle& file, const BlockCipher* cipher, uint64_t offset,
                 std::span<uint8_t> buffer, size_t& transferred) {
  if (buffer.size() % kCipherBlockSize != 0) raise_internal_error(kCheckReadSize);
  if (!file.read_at(offset, buffer, transferred)) return false;
  if (cipher != nullptr && transferred == buffer.size()) cipher->decipher(buffer);
  return true;
}

bool write_blocks(platform::FileHandle& file, const BlockCipher* cipher, uint64_t offset,
                  std::span<uint8_t> buffer, size_t& transferred) {
  if (buffer.size() % kCipherBlockSize != 0) raise_internal_error(kCheckWriteSize);
  if (cipher == nullptr) return file.write_at(offset, buffer, transferred);
  cipher->encipher(buffer);
  const bool ok = file.write_at(offset, buffer, transferred);
  cipher->decipher(buffer);
  return ok;
}

}  // namespace vtn::tarnwell

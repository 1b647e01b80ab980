#include "text/string_table.h"

namespace {

constexpr unsigned kEntriesPerBlock = 16;

// Resource data is only 2-byte aligned, and this runs on bytes of any origin:
// read the count byte by byte.
unsigned ReadUnit(const unsigned char* at) { return at[0] | (at[1] << 8); }

}  // namespace

bool FindStringTableEntry(const unsigned char* block, std::size_t size, unsigned id,
                          std::u16string& text) {
  if (block == nullptr) return false;
  std::size_t offset = 0;
  for (unsigned skipped = 0; skipped < id % kEntriesPerBlock; ++skipped) {
    if (size - offset < 2) return false;
    const std::size_t length = 2 + 2 * static_cast<std::size_t>(ReadUnit(block + offset));
    if (size - offset < length) return false;
    offset += length;
  }
  if (size - offset < 2) return false;
  const std::size_t count = ReadUnit(block + offset);
  // A count that claims more than the block holds would read past it.
  if (count == 0 || (size - offset - 2) / 2 < count) return false;
  std::u16string found(count, u'\0');
  for (std::size_t i = 0; i < count; ++i) {
    found[i] = static_cast<char16_t>(ReadUnit(block + offset + 2 + 2 * i));
  }
  text = std::move(found);
  return true;
}

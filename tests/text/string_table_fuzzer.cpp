// Arbitrary bytes as a string-table block, the first two of them choosing the
// id. Besides the out-of-bounds reads ASan would see, it stops when the entry
// found differs from an independent walk of the same bytes, when a failed
// look-up touches the text, or when more bytes after the block change the
// answer for an entry that lay wholly inside it.
#include <cstdint>
#include <string>
#include <vector>

#include "text/string_table.h"
#include "tests/fuzz_check.h"

namespace {

// The entry by the block's layout, walked on code units instead of offsets.
bool ReferenceEntry(const std::vector<char16_t>& units, unsigned index, std::u16string& text) {
  std::size_t at = 0;
  for (unsigned entry = 0;; ++entry) {
    if (at >= units.size()) return false;
    const std::size_t count = units[at];
    if (units.size() - at - 1 < count) return false;
    if (entry == index) {
      if (count == 0) return false;
      text.assign(units.begin() + at + 1, units.begin() + at + 1 + count);
      return true;
    }
    at += 1 + count;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  const unsigned id = data[0] | (data[1] << 8);
  const unsigned char* block = data + 2;
  const std::size_t length = size - 2;

  const std::u16string untouched = u"untouched";
  std::u16string text = untouched;
  const bool found = FindStringTableEntry(block, length, id, text);

  // A trailing odd byte is half a code unit: no entry can use it.
  std::vector<char16_t> units;
  for (std::size_t i = 0; i + 1 < length; i += 2) {
    units.push_back(static_cast<char16_t>(block[i] | (block[i + 1] << 8)));
  }
  std::u16string expected;
  const bool expectedFound = ReferenceEntry(units, id % 16, expected);
  Check(found == expectedFound);
  Check(found ? text == expected : text == untouched);

  // The same entry from the block cut just after it: nothing beyond is read.
  if (found) {
    std::size_t end = 0;
    for (unsigned entry = 0; entry <= id % 16; ++entry) end += 2 + 2 * std::size_t{units[end / 2]};
    std::u16string again;
    Check(FindStringTableEntry(block, end, id, again) && again == text);
    Check(!FindStringTableEntry(block, end - 1, id, again));
  }
  return 0;
}

// Arbitrary bytes as a downloaded body, cut into pieces where its first byte
// says. Besides reads and writes out of bounds, which ASan sees, it stops when
// the pieces give another verdict than the whole body read at once by the
// format's rule.
#include <cstdint>
#include <cstring>

#include "workflow/program_header.h"
#include "tests/fuzz_check.h"

namespace {

std::uint16_t Word(const std::uint8_t* at) {
  return static_cast<std::uint16_t>(at[0] | at[1] << 8);
}

bool ReadAtOnce(const std::uint8_t* data, std::size_t size) {
  if (size < 64 || data[0] != 'M' || data[1] != 'Z') return false;
  std::uint32_t offset = 0;
  for (int i = 3; i >= 0; --i) offset = offset << 8 | data[0x3C + i];
  if (offset % 4 != 0 || std::uint64_t{offset} + 94 > size) return false;
  const std::uint8_t* pe = data + offset;
  const std::uint16_t machine = Word(pe + 4), magic = Word(pe + 24);
  const std::uint16_t flags = Word(pe + 22), subsystem = Word(pe + 92);
  return std::memcmp(pe, "PE\0\0", 4) == 0 &&
         ((machine == 0x14C && magic == 0x10B) ||
          ((machine == 0x8664 || machine == 0xAA64) && magic == 0x20B)) &&
         Word(pe + 20) >= 70 && (flags & 2) && !(flags & 0x2000) &&
         (subsystem == 2 || subsystem == 3);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::size_t piece = data[0] % 70 + 1;
  const std::uint8_t* body = data + 1;
  const std::size_t length = size - 1;
  ProgramHeaderScan scan;
  for (std::size_t at = 0; at < length; at += piece)
    scan.Take(body + at, length - at < piece ? length - at : piece);
  Check(scan.IsWindowsProgram() == ReadAtOnce(body, length));
  return 0;
}

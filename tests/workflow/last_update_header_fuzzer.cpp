// Arbitrary bytes as the stored "lastupdate" value, read without a terminator
// of its own. Besides reads past the value, which ASan sees, it stops when
// the header sent is not the text before the first NUL, or holds a character
// that could end the header line.
#include <cstdint>
#include <string>
#include <string_view>

#include "workflow/last_update_header.h"
#include "tests/fuzz_check.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const char* bytes = reinterpret_cast<const char*>(data);
  const std::string header = LastInstalledUpdateHeader(bytes, size);
  const std::string_view value(bytes, size);
  const std::string_view stored = value.substr(0, value.find('\0'));

  bool clean = !stored.empty();
  for (const char c : stored) {
    const unsigned char u = static_cast<unsigned char>(c);
    clean = clean && u >= 0x20 && u != 0x7F;
  }
  Check(clean ? header == stored : header.empty());
  Check(header.find_first_of(std::string_view("\r\n\0", 3)) == std::string::npos);
  return 0;
}

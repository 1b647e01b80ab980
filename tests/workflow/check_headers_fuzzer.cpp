// Arbitrary bytes as the X-Server-Day of an answer, or the stored day. Besides
// reads past the bytes, which ASan sees, it stops when what would be stored
// or sent is not ten characters of a date, or not the bytes given.
#include <cstdint>
#include <string>

#include "tests/fuzz_check.h"
#include "workflow/check_headers.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const char* bytes = reinterpret_cast<const char*>(data);
  const std::string day = ServerDay(bytes, size);
  if (!day.empty()) {
    Check(day.size() == 10 && day.compare(0, 10, bytes, 10) == 0);
    for (std::size_t i = 0; i < day.size(); ++i)
      Check(i == 4 || i == 7 ? day[i] == '-' : day[i] >= '0' && day[i] <= '9');
  }
  const std::string header = LastCheckDayHeader(bytes, size);
  Check(header == (day.empty() ? std::string("none") : day));
  return 0;
}

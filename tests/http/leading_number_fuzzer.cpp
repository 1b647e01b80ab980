// Arbitrary bytes as a header value (up to the first NUL) through the number
// reader and the status comparison. The number must be what the C library's
// strtoll reads, brought into the 32-bit range of Windows' long, where atol
// saturates; a body block must be granted exactly for what is neither
// negative nor saturated.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "http/http_text.h"
#include "tests/fuzz_check.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // The text as the platform hands it over: terminated, and cut at a NUL.
  const std::string text(reinterpret_cast<const char*>(data), size);
  const char* value = text.c_str();

  const int32_t number = ParseLeadingNumber(value);
  const long long expected =
      std::clamp<long long>(std::strtoll(value, nullptr, 10), INT32_MIN, INT32_MAX);
  Check(number == expected);

  std::uint32_t block = 7;
  const bool fits = BodyBlockSize(number, block);
  Check(fits == (expected >= 0 && expected < INT32_MAX));
  Check(fits ? block == static_cast<std::uint64_t>(number) : block == 7);

  // A status matches only itself, whole: the second half of the input (at
  // its first NUL) against the first.
  const std::size_t nul = text.find('\0');
  const char* other = nul == std::string::npos ? "" : value + nul + 1;
  Check(StatusIs(value, other) == (std::string(value) == std::string(other)));
  Check(StatusIs(value, value) && !StatusIs(value, nullptr) && !StatusIs(nullptr, value));
  return 0;
}

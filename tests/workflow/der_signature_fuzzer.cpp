// Arbitrary bytes as the signature a server sent. Strict DER has exactly one
// encoding of each pair of numbers, so whatever is read must encode back to
// the very bytes it was read from.
#include <algorithm>
#include <cstdint>
#include <vector>

#include "tests/fuzz_check.h"
#include "workflow/installer_signature.h"

namespace {

void AppendInteger(std::vector<std::uint8_t>& der, const std::uint8_t* number) {
  std::size_t first = 0;
  while (first < 31 && number[first] == 0) ++first;
  const bool pad = number[first] & 0x80;
  der.push_back(0x02);
  der.push_back(static_cast<std::uint8_t>(32 - first + (pad ? 1 : 0)));
  if (pad) der.push_back(0);
  der.insert(der.end(), number + first, number + 32);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::uint8_t raw[kRawSignatureSize];
  if (!RawSignatureFromDer(data, size, raw)) return 0;
  std::vector<std::uint8_t> der = {0x30, 0};
  AppendInteger(der, raw);
  AppendInteger(der, raw + 32);
  der[1] = static_cast<std::uint8_t>(der.size() - 2);
  Check(der.size() == size && std::equal(der.begin(), der.end(), data));
  return 0;
}

// Arbitrary bytes as a redirect: the first byte chooses the scheme, the next
// four the port, the rest is the server name and the Location, split at the
// first NUL. The URL made must read back, field by field, as exactly what went
// in: the scheme, the server, the port in plain decimal, then the Location
// behind a single slash whether or not it brought its own.
#include <cstdint>
#include <string>
#include <string_view>

#include "http/http_text.h"
#include "tests/fuzz_check.h"

namespace {

// Consumes `prefix` from the front of `text`, or stops the run.
void Expect(std::string_view& text, std::string_view prefix) {
  Check(text.substr(0, prefix.size()) == prefix);
  text.remove_prefix(prefix.size());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 5) return 0;
  const bool secure = (data[0] & 1) != 0;
  const unsigned port = data[1] | (data[2] << 8) | (data[3] << 16) | (unsigned{data[4]} << 24);
  const std::string_view rest(reinterpret_cast<const char*>(data + 5), size - 5);
  const std::size_t nul = rest.find('\0');
  const std::string_view server = rest.substr(0, nul);
  const std::string_view location =
      nul == std::string_view::npos ? std::string_view() : rest.substr(nul + 1);

  const std::string url = AbsoluteLocation(secure, server, port, location);
  std::string_view left = url;
  Expect(left, secure ? "https://" : "http://");
  Expect(left, server);
  Expect(left, ":");
  std::size_t digits = 0;
  unsigned long long readPort = 0;
  while (digits < left.size() && left[digits] >= '0' && left[digits] <= '9') {
    readPort = readPort * 10 + (left[digits] - '0');
    ++digits;
  }
  Check(digits > 0 && digits <= 10 && readPort == port && (left[0] != '0' || port == 0));
  left.remove_prefix(digits);
  Expect(left, "/");
  const bool rooted = !location.empty() && location.front() == '/';
  Check(left == (rooted ? location.substr(1) : location));
  return 0;
}

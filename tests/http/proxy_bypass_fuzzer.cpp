// Arbitrary bytes as a bypass list and a host, split at the first NUL (the
// host comes from a server's Location). Whatever they are, the match ends
// quickly and keeps its promises: a host is sent direct by a list that names
// it, by "*", and by neither an empty list nor one of separators only, and
// the letter case of either side changes nothing.
#include <cstdint>
#include <string>
#include <string_view>

#include "http/http_text.h"
#include "tests/fuzz_check.h"

namespace {

std::string Upper(std::string_view text) {
  std::string upper(text);
  for (char& c : upper) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return upper;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  const std::size_t nul = input.find('\0');
  const std::string_view bypass = input.substr(0, nul);
  const std::string_view host =
      nul == std::string_view::npos ? std::string_view() : input.substr(nul + 1);

  const bool direct = ProxyBypassed(bypass, host);
  Check(ProxyBypassed(Upper(bypass), host) == direct);
  Check(ProxyBypassed(bypass, Upper(host)) == direct);
  Check(!ProxyBypassed("", host) && !ProxyBypassed(" ;\t; ", host));
  if (host.empty()) {
    Check(!direct);
    return 0;
  }
  Check(ProxyBypassed("*", host));
  // A host without separators is an entry naming itself, unless its stars
  // and angle brackets read as something else.
  if (host.find_first_of("; \t\r\n*<") == std::string_view::npos) {
    Check(ProxyBypassed(std::string(bypass) + ";" + std::string(host), host));
  }
  return 0;
}

// The parts of one HTTP exchange that are plain text and bytes: reading a
// number as atol does, comparing a status, assembling the extra-header text,
// making a Location absolute, telling the pinned certificate by the server's,
// whether the proxy configuration sends a host direct and whether a body
// arrives fast enough. No Windows here; HttpRequest applies the results.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

// The number at the start of `text` the way atol reads it on Windows: leading
// white space, an optional sign, then decimal digits up to the first other
// character; 0 when there are none (or `text` is null). `long` is 32 bits
// there in either bitness, and the value saturates at its range, so the 32-bit
// product and the x86_64 build read the same length.
int32_t ParseLeadingNumber(const char* text);

// True when `text` is exactly `status`, terminator included: "2000" and
// "200 " are not "200". A null text matches nothing.
bool StatusIs(const char* text, const char* status);

// The body block size for a Content-Length read by ParseLeadingNumber, or
// false when no block can be that size: negative, or saturated.
bool BodyBlockSize(int32_t contentLength, uint32_t& size);

// Headers sent with every request. The map orders names byte-wise, so that
// is the order on the wire.
using HeaderMap = std::map<std::string, std::string>;

// "Content-Type: text/html", then "\n<name>: <value>" for each entry in the
// map's order. Lines are joined by a line feed alone.
std::string ExtraHeaderText(const HeaderMap& headers);

// A Location that is not an absolute URL, made absolute against the server
// the request went to: "<scheme>://<server>:<port>" with the port always
// written (also 80 and 443), then "/" unless the Location starts with one,
// then the Location. The result is sized to fit, however long the Location.
std::string AbsoluteLocation(bool secure, std::string_view server, unsigned port,
                             std::string_view location);

// One encoded certificate as the platform holds it.
struct ByteSpan {
  const uint8_t* data = nullptr;
  size_t size = 0;
};

// True when the first of `certificates` (the server's own certificate: the
// platform orders the chain leaf first) has the same length as `pinned` and
// the same bytes. Certificates are compared whole as encoded, never by key or
// name. A copy of the pinned certificate later in the chain does not count:
// it is public, and anyone can send it behind a leaf of their own. An empty
// pin matches nothing.
bool LeafIsPinned(const std::vector<ByteSpan>& certificates, ByteSpan pinned);

// True when the proxy bypass list `bypass` (as Internet Options writes it:
// entries separated by semicolons or blanks) sends `host` direct: an entry
// equal to it regardless of case, where '*' stands for any run of
// characters, or "<local>" for a name without a dot.
bool ProxyBypassed(std::string_view bypass, std::string_view host);

// The pace of a body as it arrives: too slow once 60 s have passed without
// 16 KiB. Each 16 KiB starts a new window; times are milliseconds of any
// clock that does not go back.
class BodyPace {
 public:
  static constexpr uint32_t kWindowBytes = 16 * 1024;
  static constexpr uint64_t kWindowMs = 60 * 1000;

  explicit BodyPace(uint64_t startMs) noexcept : m_windowStart(startMs) {}

  // `bytes` more arrived at `nowMs`. False when the window ran out first.
  bool Arrived(uint64_t nowMs, uint32_t bytes) noexcept;

 private:
  uint64_t m_windowStart;
  uint32_t m_windowBytes = 0;
};

// The parts of one HTTP exchange that are plain text and bytes: reading a
// number as atol does, comparing a status, assembling the extra-header text,
// making a Location absolute and finding the pinned certificate among the
// server's. No Windows here; HttpRequest applies the results.
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

// True when one of `certificates` (every element of every chain, in order)
// has the same length as `pinned` and the same bytes. Certificates are
// compared whole as encoded, never by key or name. An empty pin matches
// nothing.
bool HoldsCertificate(const std::vector<ByteSpan>& certificates, ByteSpan pinned);

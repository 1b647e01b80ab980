#include "workflow/installer_signature.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr std::uint8_t kSequenceTag = 0x30;
constexpr std::uint8_t kIntegerTag = 0x02;
constexpr std::size_t kCoordinateSize = kRawSignatureSize / 2;

// One INTEGER at `der[at]`, right-aligned into `out`; `at` moves past it.
bool ReadCoordinate(const std::uint8_t* der, std::size_t end, std::size_t& at,
                    std::uint8_t* out) {
  if (end - at < 2 || der[at] != kIntegerTag) return false;
  std::size_t length = der[at + 1];
  at += 2;
  // Short-form lengths only: a P-256 number never needs more than 33 bytes.
  if (length == 0 || length > kCoordinateSize + 1 || length > end - at) return false;
  const std::uint8_t* value = der + at;
  at += length;
  if (value[0] & 0x80) return false;  // negative
  if (value[0] == 0) {
    // A leading zero only where the next byte would read as negative.
    if (length == 1 || !(value[1] & 0x80)) return false;
    ++value;
    --length;
  }
  if (length > kCoordinateSize) return false;
  std::memset(out, 0, kCoordinateSize - length);
  std::memcpy(out + kCoordinateSize - length, value, length);
  return true;
}

}  // namespace

std::string BesideInstallerUrl(const std::string& installerUrl, const char* suffix) {
  std::string url = installerUrl;
  const std::size_t scheme = url.find("://");
  const std::size_t authority = scheme == std::string::npos ? 0 : scheme + 3;
  const std::size_t pathStart = std::min(url.find_first_of("/?#", authority), url.size());
  if (pathStart == url.size() || url[pathStart] != '/') return url.insert(pathStart, std::string("/") + suffix);
  return url.insert(std::min(url.find_first_of("?#", pathStart), url.size()), suffix);
}

bool RawSignatureFromDer(const std::uint8_t* der, std::size_t size,
                         std::uint8_t (&raw)[kRawSignatureSize]) {
  if (der == nullptr || size < 2 || der[0] != kSequenceTag) return false;
  // Both integers at their longest make 70 bytes: the short form of the
  // length always fits, and DER allows no other.
  if ((der[1] & 0x80) || der[1] != size - 2) return false;
  std::size_t at = 2;
  if (!ReadCoordinate(der, size, at, raw) || !ReadCoordinate(der, size, at, raw + kCoordinateSize))
    return false;
  if (at != size) return false;
  bool rZero = true, sZero = true;
  for (std::size_t i = 0; i < kCoordinateSize; ++i) {
    rZero = rZero && raw[i] == 0;
    sZero = sZero && raw[kCoordinateSize + i] == 0;
  }
  return !rZero && !sZero;
}

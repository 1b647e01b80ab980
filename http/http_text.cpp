#include "http/http_text.h"

#include <cstring>
#include <limits>

int32_t ParseLeadingNumber(const char* text) {
  if (text == nullptr) return 0;
  const char* p = text;
  // The blanks isspace accepts in the "C" locale, which atol uses here.
  while (*p == ' ' || *p == '\t' || *p == '\n' || *p == '\v' || *p == '\f' || *p == '\r') ++p;
  bool negative = false;
  if (*p == '+' || *p == '-') {
    negative = *p == '-';
    ++p;
  }
  // Accumulated as a negative number: its range holds the most negative value.
  constexpr int32_t kMin = std::numeric_limits<int32_t>::min();
  int32_t value = 0;
  for (; *p >= '0' && *p <= '9'; ++p) {
    const int digit = *p - '0';
    if (value < (kMin + digit) / 10) {
      value = kMin;
      // Skip the remaining digits: the value is already saturated.
      while (p[1] >= '0' && p[1] <= '9') ++p;
      break;
    }
    value = value * 10 - digit;
  }
  if (negative) return value;
  return value == kMin ? std::numeric_limits<int32_t>::max() : -value;
}

bool StatusIs(const char* text, const char* status) {
  return text != nullptr && status != nullptr && std::strcmp(text, status) == 0;
}

bool BodyBlockSize(int32_t contentLength, uint32_t& size) {
  // A saturated length stands for any number beyond 2 GB, which is more than
  // the 32-bit process's whole address space: refused like a negative one, so
  // the x86_64 build does not reserve gigabytes for it either.
  if (contentLength < 0 || contentLength == std::numeric_limits<int32_t>::max()) return false;
  size = static_cast<uint32_t>(contentLength);
  return true;
}

std::string ExtraHeaderText(const HeaderMap& headers) {
  std::string text = "Content-Type: text/html";
  for (const auto& [name, value] : headers) {
    text += '\n';
    text += name;
    text += ": ";
    text += value;
  }
  return text;
}

std::string AbsoluteLocation(bool secure, std::string_view server, unsigned port,
                             std::string_view location) {
  std::string url = secure ? "https" : "http";
  url += "://";
  url += server;
  url += ':';
  url += std::to_string(port);
  if (location.empty() || location.front() != '/') url += '/';
  url += location;
  return url;
}

bool HoldsCertificate(const std::vector<ByteSpan>& certificates, ByteSpan pinned) {
  if (pinned.data == nullptr || pinned.size == 0) return false;
  for (const ByteSpan& certificate : certificates) {
    if (certificate.data != nullptr && certificate.size == pinned.size &&
        std::memcmp(certificate.data, pinned.data, pinned.size) == 0) {
      return true;
    }
  }
  return false;
}

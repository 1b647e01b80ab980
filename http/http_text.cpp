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

bool LeafIsPinned(const std::vector<ByteSpan>& certificates, ByteSpan pinned) {
  if (pinned.data == nullptr || pinned.size == 0 || certificates.empty()) return false;
  const ByteSpan& leaf = certificates.front();
  return leaf.data != nullptr && leaf.size == pinned.size &&
         std::memcmp(leaf.data, pinned.data, pinned.size) == 0;
}

namespace {

char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

// `text` against `pattern`, regardless of case, '*' matching any run. Greedy
// with one step back to the last star: time bounded by the product of the
// lengths, never exponential.
bool WildcardMatches(std::string_view pattern, std::string_view text) {
  size_t p = 0, t = 0;
  size_t star = std::string_view::npos, resume = 0;
  while (t < text.size()) {
    if (p < pattern.size() && pattern[p] == '*') {
      star = p++;
      resume = t;
    } else if (p < pattern.size() && Lower(pattern[p]) == Lower(text[t])) {
      ++p;
      ++t;
    } else if (star != std::string_view::npos) {
      p = star + 1;
      t = ++resume;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == '*') ++p;
  return p == pattern.size();
}

bool IsSeparator(char c) { return c == ';' || c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

}  // namespace

bool ProxyBypassed(std::string_view bypass, std::string_view host) {
  if (host.empty()) return false;
  size_t at = 0;
  while (at < bypass.size()) {
    while (at < bypass.size() && IsSeparator(bypass[at])) ++at;
    size_t end = at;
    while (end < bypass.size() && !IsSeparator(bypass[end])) ++end;
    const std::string_view entry = bypass.substr(at, end - at);
    at = end;
    if (entry.empty()) continue;
    if (entry.size() == 7 && WildcardMatches("<local>", entry)) {
      if (host.find('.') == std::string_view::npos) return true;
      continue;
    }
    if (WildcardMatches(entry, host)) return true;
  }
  return false;
}

bool BodyPace::Arrived(uint64_t nowMs, uint32_t bytes) noexcept {
  if (nowMs - m_windowStart > kWindowMs) return false;
  // Below kWindowBytes before the addition, so the sum cannot wrap.
  m_windowBytes += bytes < kWindowBytes ? bytes : kWindowBytes;
  if (m_windowBytes >= kWindowBytes) {
    m_windowStart = nowMs;
    m_windowBytes = 0;
  }
  return true;
}

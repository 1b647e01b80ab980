#include "workflow/release_statement.h"

#include <string_view>

namespace {

constexpr std::string_view kFormatLine = "tavrin-release-statement 1";
constexpr std::string_view kProductLine = "product tavrin-middleware";

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

bool IsVersionCharacter(char c) {
  return IsDigit(c) || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '.' || c == '+' ||
         c == '-';
}

// Takes the next line of `rest`, which must begin with `key` and one space,
// and leaves its value in `value`. The line's LF must be there.
bool TakeLine(std::string_view& rest, std::string_view key, std::string_view& value) {
  const std::size_t end = rest.find('\n');
  if (end == std::string_view::npos) return false;
  const std::string_view line = rest.substr(0, end);
  rest.remove_prefix(end + 1);
  if (line.size() <= key.size() || line.substr(0, key.size()) != key || line[key.size()] != ' ')
    return false;
  value = line.substr(key.size() + 1);
  return true;
}

// A decimal of 1 to `digits` digits without a leading zero, at least 1.
bool ReadNumber(std::string_view text, std::size_t digits, std::uint64_t& number) {
  if (text.empty() || text.size() > digits || text[0] == '0') return false;
  number = 0;
  for (char c : text) {
    if (!IsDigit(c)) return false;
    number = number * 10 + static_cast<std::uint64_t>(c - '0');
  }
  return true;
}

}  // namespace

bool ParseReleaseStatement(const std::uint8_t* data, std::size_t size,
                           ReleaseStatement& statement) {
  if (data == nullptr || size > kReleaseStatementLimit) return false;
  std::string_view rest(reinterpret_cast<const char*>(data), size);
  for (std::string_view fixed : {kFormatLine, kProductLine}) {
    if (rest.size() <= fixed.size() || rest.substr(0, fixed.size()) != fixed ||
        rest[fixed.size()] != '\n')
      return false;
    rest.remove_prefix(fixed.size() + 1);
  }
  std::string_view version, length, sha256, sequence;
  if (!TakeLine(rest, "version", version) || !TakeLine(rest, "length", length) ||
      !TakeLine(rest, "sha256", sha256) || !TakeLine(rest, "sequence", sequence) || !rest.empty())
    return false;

  if (version.empty() || version.size() > 32) return false;
  for (char c : version)
    if (!IsVersionCharacter(c)) return false;
  if (sha256.size() != 64) return false;
  for (char c : sha256)
    if (!IsDigit(c) && !(c >= 'a' && c <= 'f')) return false;
  // 19 digits always fit in 64 bits; 10 may not fit in 32.
  std::uint64_t lengthValue = 0, sequenceValue = 0;
  if (!ReadNumber(length, 19, lengthValue) || !ReadNumber(sequence, 10, sequenceValue) ||
      sequenceValue > 0xFFFFFFFFu)
    return false;

  statement.version = std::string(version.data(), version.size());
  statement.length = lengthValue;
  statement.sha256 = std::string(sha256.data(), sha256.size());
  statement.sequence = static_cast<std::uint32_t>(sequenceValue);
  return true;
}

bool ReleaseFollows(const ReleaseStatement& statement, const AcceptedRelease& accepted) {
  if (!accepted.known || statement.sequence > accepted.sequence) return true;
  return statement.sequence == accepted.sequence && statement.sha256 == accepted.sha256;
}

std::string Sha256Hex(const std::uint8_t (&digest)[32]) {
  static const char kHex[] = "0123456789abcdef";
  std::string hex(64, '0');
  for (std::size_t i = 0; i < 32; ++i) {
    hex[2 * i] = kHex[digest[i] >> 4];
    hex[2 * i + 1] = kHex[digest[i] & 0xF];
  }
  return hex;
}

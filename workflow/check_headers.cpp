#include "workflow/check_headers.h"

#include <cstring>

namespace {

// The largest multiple of the bucket count that 32 bits can hold: numbers
// from here on would add one more chance to the lowest buckets.
constexpr std::uint64_t kFairLimit = (std::uint64_t{1} << 32) / kRolloutBuckets * kRolloutBuckets;

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

int TwoDigits(const char* text) { return (text[0] - '0') * 10 + (text[1] - '0'); }

}  // namespace

bool BucketFromRandom(std::uint32_t random, std::uint32_t& bucket) {
  if (random >= kFairLimit) return false;
  bucket = random % kRolloutBuckets;
  return true;
}

std::string ServerDay(const char* bytes, std::size_t size) {
  const void* end = std::memchr(bytes, '\0', size);
  const std::size_t length = end ? static_cast<const char*>(end) - bytes : size;
  constexpr std::size_t kLength = 10;
  if (length != kLength || bytes[4] != '-' || bytes[7] != '-') return {};
  for (std::size_t i = 0; i < kLength; ++i)
    if (i != 4 && i != 7 && !IsDigit(bytes[i])) return {};
  const int month = TwoDigits(bytes + 5);
  const int day = TwoDigits(bytes + 8);
  if (month < 1 || month > 12 || day < 1 || day > 31) return {};
  return std::string(bytes, kLength);
}

std::string LastCheckDayHeader(const char* bytes, std::size_t size) {
  std::string day = ServerDay(bytes, size);
  return day.empty() ? "none" : day;
}

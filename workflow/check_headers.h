// The values the check sends so that the server can give a share of the
// machines an update and count them, without any identifier: the rollout
// bucket (one of ten thousand numbers, drawn at random once per user) and
// the echo of the day the server sent with its last answer. Pure: the check
// reads and writes the registry and draws the random number.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// Buckets are 0 to kRolloutBuckets - 1.
inline constexpr std::uint32_t kRolloutBuckets = 10000;

// A bucket from 32 random bits, or false for the few numbers at the top of
// their range that would make the low buckets likelier: draw again.
bool BucketFromRandom(std::uint32_t random, std::uint32_t& bucket);

// The day that the server wrote into X-Server-Day, from the `size` bytes at
// `bytes` up to the first NUL: "YYYY-MM-DD" with digits, a month from 01 to
// 12 and a day from 01 to 31; empty when it is anything else, which is then
// neither stored nor sent.
std::string ServerDay(const char* bytes, std::size_t size);

// What X-Last-Check-Day carries for the stored bytes: the day when they hold
// one, else "none" (no check has been answered yet, or the value is broken).
std::string LastCheckDayHeader(const char* bytes, std::size_t size);

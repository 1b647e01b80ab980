#include "workflow/check_headers.h"

#include <gtest/gtest.h>

#include <cstring>
#include <set>

TEST(BucketFromRandom, SpreadsEvenlyAndRefusesTheTopOfTheRange) {
  std::uint32_t bucket = 12345;
  EXPECT_TRUE(BucketFromRandom(0, bucket));
  EXPECT_EQ(bucket, 0u);
  EXPECT_TRUE(BucketFromRandom(4294959999u, bucket));
  EXPECT_EQ(bucket, 9999u);
  // 2^32 is 429496 whole rounds of 10,000 and 7,296 more.
  for (const std::uint32_t unfair : {4294960000u, 4294967295u}) {
    bucket = 12345;
    EXPECT_FALSE(BucketFromRandom(unfair, bucket)) << unfair;
    EXPECT_EQ(bucket, 12345u);
  }
  std::set<std::uint32_t> seen;
  for (std::uint32_t r = 7; r < 40000; r += 3)
    if (BucketFromRandom(r, bucket)) seen.insert(bucket);
  EXPECT_EQ(seen.size(), kRolloutBuckets);
  EXPECT_LT(*seen.rbegin(), kRolloutBuckets);
}

TEST(ServerDay, TakesOnlyADateAsTheServerWritesIt) {
  struct Row {
    const char* stored;
    std::size_t size;  // 0: the text with its terminator
    const char* day;   // "": not a day
  } const rows[] = {
      {"2026-12-09", 0, "2026-12-09"},
      {"2026-12-09\0junk", 16, "2026-12-09"},
      {"2026-12-09", 10, "2026-12-09"},  // read without a terminator
      {"2026-12-0", 0, ""},
      {"2026-12-091", 0, ""},
      {"2026-13-09", 0, ""},
      {"2026-00-09", 0, ""},
      {"2026-12-32", 0, ""},
      {"2026-12-00", 0, ""},
      {"2026/12/09", 0, ""},
      {"2026-1a-09", 0, ""},
      {"2026-12-09\r\nX: y", 0, ""},
      {"", 0, ""},
  };
  for (const Row& row : rows) {
    const std::size_t size = row.size ? row.size : std::strlen(row.stored) + 1;
    EXPECT_EQ(ServerDay(row.stored, size), row.day) << row.stored;
    EXPECT_EQ(LastCheckDayHeader(row.stored, size), *row.day ? row.day : "none") << row.stored;
  }
}

#include "workflow/reminder_policy.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>

namespace {

constexpr std::int64_t kNow = 1700000000;
constexpr std::int64_t kDay = 86400;
constexpr std::int64_t kMin = std::numeric_limits<std::int64_t>::min();
constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();

StoredReminder Stored(std::uint32_t mode, std::int64_t lastTime) {
  StoredReminder stored;
  stored.delayModeRead = true;
  stored.delayMode = mode;
  stored.lastTimeRead = true;
  stored.lastTime = lastTime;
  return stored;
}

StoredReminder WithoutDelayMode(StoredReminder stored) {
  stored.delayModeRead = false;
  return stored;
}

StoredReminder WithoutLastTime(StoredReminder stored) {
  stored.lastTimeRead = false;
  return stored;
}

}  // namespace

TEST(ReminderDue, DecidesByModeElapsedTimeAndReads) {
  struct Case {
    const char* what;
    StoredReminder stored;
    std::int64_t now;
    bool due;
  };
  const Case cases[] = {
      {"tomorrow, one second short", Stored(1, kNow - kDay + 1), kNow, false},
      {"tomorrow, exactly a day", Stored(1, kNow - kDay), kNow, true},
      {"next week, one second short", Stored(2, kNow - 7 * kDay + 1), kNow, false},
      {"next week, exactly a week", Stored(2, kNow - 7 * kDay), kNow, true},
      {"next month, one second short", Stored(3, kNow - 30 * kDay + 1), kNow, false},
      {"next month, exactly 30 days", Stored(3, kNow - 30 * kDay), kNow, true},
      // A clock that went back: the period counts from the stored moment.
      {"one second in the future", Stored(1, kNow + 1), kNow, false},
      {"an hour ahead, now", Stored(3, kNow + 3600), kNow, false},
      {"an hour ahead, 30 days 1 hour later less 1 s", Stored(3, kNow + 3600),
       kNow + 30 * kDay + 3600 - 1, false},
      {"an hour ahead, 30 days 1 hour later", Stored(3, kNow + 3600), kNow + 30 * kDay + 3600,
       true},
      // Anything that is not a reminder is due at the first tick.
      {"mode 0 in the future", Stored(0, kNow + kDay), kNow, true},
      {"mode 7 in the future", Stored(7, kNow + kDay), kNow, true},
      {"mode 0xFFFFFFFF in the future", Stored(0xFFFFFFFFu, kNow + kDay), kNow, true},
      {"delaymode unreadable", WithoutDelayMode(Stored(1, kNow)), kNow, true},
      {"lasttime unreadable", WithoutLastTime(Stored(3, kNow + kDay)), kNow, true},
      // Differences that do not fit 64 bits keep their true sign.
      {"min to max", Stored(1, kMin), kMax, true},
      {"max to min", Stored(1, kMax), kMin, false},
      {"min to zero", Stored(3, kMin), 0, true},
      {"before 1970 to max", Stored(2, -1), kMax, true},
      {"near max, one second short", Stored(1, kMax - kDay + 1), kMax, false},
      {"near max, exactly a day", Stored(1, kMax - kDay), kMax, true},
      {"at min, same moment", Stored(1, kMin), kMin, false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ReminderDue(c.stored, c.now), c.due) << c.what;
  }
}

TEST(ReminderPendingAtStart, NeedsBothReadsAndANonZeroMode) {
  struct Case {
    const char* what;
    StoredReminder stored;
    bool pending;
  };
  const Case cases[] = {
      {"next week stored", Stored(2, kNow), true},
      {"unknown mode still waits for the first tick", Stored(7, kNow), true},
      {"due long ago still waits for the first tick", Stored(1, kMin), true},
      {"mode 0", Stored(0, kNow), false},
      {"delaymode unreadable", WithoutDelayMode(Stored(2, kNow)), false},
      {"lasttime unreadable", WithoutLastTime(Stored(2, kNow)), false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ReminderPendingAtStart(c.stored), c.pending) << c.what;
  }
}

TEST(UnreachedRetrySeconds, GrowsFrom90SecondsToAnHour) {
  const std::uint32_t expected[] = {90, 90, 180, 360, 720, 1440, 2880, 3600, 3600};
  for (std::uint32_t n = 0; n < sizeof expected / sizeof expected[0]; ++n) {
    EXPECT_EQ(UnreachedRetrySeconds(n), expected[n]) << n;
  }
  EXPECT_EQ(UnreachedRetrySeconds(0xFFFFFFFFu), 3600u);
}

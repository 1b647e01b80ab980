// The reminder's decisions: whether a postponement is pending when the
// dialog starts, whether it has run out at a timer tick, and how long a
// waiting copy whose due check never reached the server waits before it
// tries again. Pure: the caller
// reads the clock and the stored values and passes them in, with whether each
// read succeeded. Runs on whichever thread asks; nothing fails.
#pragma once

#include <cstdint>

// Stored "delaymode" values that stand for a reminder; the same numbers as
// DelayMode in settings/settings.h, which cannot be included here.
constexpr std::uint32_t kDelayNone = 0;
constexpr std::uint32_t kDelayTomorrow = 1;
constexpr std::uint32_t kDelayNextWeek = 2;
constexpr std::uint32_t kDelayNextMonth = 3;

// What the two reads of the schedule gave. A value whose read failed is not
// looked at.
struct StoredReminder {
  bool delayModeRead = false;
  std::uint32_t delayMode = kDelayNone;
  bool lastTimeRead = false;
  std::int64_t lastTime = 0;  // seconds since 1970-01-01 00:00:00 UTC
};

// Seconds a stored mode postpones the check from "lasttime"; 0 for None and
// for any value that is no reminder.
std::int64_t PostponementSeconds(std::uint32_t delayMode);

// At start the dialog waits instead of checking only when both values were
// read and a mode is stored; the mode's validity is left to the first tick.
bool ReminderPendingAtStart(const StoredReminder& stored);

// The tick's test. A failed read, mode 0 or an unknown mode is due at once.
// A known mode is due once `now` is at least its postponement past
// `lastTime`; a `lastTime` in the future is not due, so a clock set back
// waits for the time to pass again. The difference is taken exactly for
// every pair of values, without wrapping.
bool ReminderDue(const StoredReminder& stored, std::int64_t now);

// The wait before the next try after `unreached` due checks in a row never
// reached the server (1 after the first): 90 s, doubling with each, and
// never more than an hour, so that a copy behind a network that stays away
// (or a proxy the pin refuses) asks a few dozen times a day, not every tick.
std::uint32_t UnreachedRetrySeconds(std::uint32_t unreached);
constexpr std::uint32_t kFirstRetrySeconds = 90;
constexpr std::uint32_t kLongestRetrySeconds = 3600;

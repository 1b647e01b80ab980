#include "workflow/reminder_policy.h"

std::int64_t PostponementSeconds(std::uint32_t delayMode) {
  switch (delayMode) {
    case kDelayTomorrow:
      return 86400;
    case kDelayNextWeek:
      return 7 * 86400;
    case kDelayNextMonth:
      return 30 * 86400;
    default:
      return 0;
  }
}

bool ReminderPendingAtStart(const StoredReminder& stored) {
  return stored.delayModeRead && stored.lastTimeRead && stored.delayMode != kDelayNone;
}

bool ReminderDue(const StoredReminder& stored, std::int64_t now) {
  if (!stored.delayModeRead || !stored.lastTimeRead) return true;
  const std::int64_t period = PostponementSeconds(stored.delayMode);
  if (period == 0) return true;
  if (now < stored.lastTime) return false;
  // now >= lastTime, so the unsigned difference is the exact distance even
  // when it exceeds INT64_MAX (a stored time far in the past).
  const std::uint64_t elapsed =
      static_cast<std::uint64_t>(now) - static_cast<std::uint64_t>(stored.lastTime);
  return elapsed >= static_cast<std::uint64_t>(period);
}

std::uint32_t UnreachedRetrySeconds(std::uint32_t unreached) {
  std::uint32_t seconds = kFirstRetrySeconds;
  for (std::uint32_t n = 1; n < unreached && seconds < kLongestRetrySeconds; ++n) seconds *= 2;
  return seconds < kLongestRetrySeconds ? seconds : kLongestRetrySeconds;
}

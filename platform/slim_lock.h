// A lock for std::lock_guard: the system's slim reader/writer lock, taken
// exclusively. std::mutex would serve as well, but its lock() may throw
// std::system_error, and that one exception brings the runtime's error
// categories, message strings and a whole instantiation of std::string into
// the exe; acquiring a slim lock cannot fail.
#pragma once

#include <windows.h>

class SlimLock {
 public:
  SlimLock() noexcept = default;
  SlimLock(const SlimLock&) = delete;
  SlimLock& operator=(const SlimLock&) = delete;

  void lock() noexcept { ::AcquireSRWLockExclusive(&m_lock); }
  void unlock() noexcept { ::ReleaseSRWLockExclusive(&m_lock); }

 private:
  SRWLOCK m_lock = SRWLOCK_INIT;
};

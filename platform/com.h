// COM on the calling thread for the life of a scope.
#pragma once

#include <objbase.h>

// Apartment-threaded and without OLE1 DDE, as the shell's process start asks
// of its caller (it may hand the start to a shell extension). A thread that
// had COM already keeps it as it was; the platform counts the calls, so each
// success is balanced here.
class ScopedComApartment {
 public:
  ScopedComApartment() noexcept
      : m_initialized(SUCCEEDED(
            ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE))) {}
  ~ScopedComApartment() {
    if (m_initialized) ::CoUninitialize();
  }
  ScopedComApartment(const ScopedComApartment&) = delete;
  ScopedComApartment& operator=(const ScopedComApartment&) = delete;

 private:
  bool m_initialized;
};

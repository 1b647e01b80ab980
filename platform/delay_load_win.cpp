// The delay-load helper's hooks, for an exe whose system DLLs are bound on
// their first call (tavrin_delay_load). Left alone, the helper loads a DLL by
// its plain name, which searches the exe's own folder first; and it reports
// a DLL or function it cannot bind with an exception that would end the
// program through whichever window or thread procedure made the call.
//
// The helper reads these two variables by name: defined here, among the
// exe's own objects, they replace the runtime's empty ones.
#include <windows.h>
#include <delayimp.h>

#include "platform/system_library.h"

namespace {

// A failed load or bind ends the run as every failure of a run does: exit
// code 1, nothing shown.
[[noreturn]] void EndRun() {
  ::TerminateProcess(::GetCurrentProcess(), 1);
  for (;;) ::Sleep(INFINITE);
}

FARPROC WINAPI OnDelayLoadNotice(unsigned notice, PDelayLoadInfo info) {
  if (notice != dliNotePreLoadLibrary) return nullptr;
  // The helper's names are those the build gave: short and plain ASCII.
  wchar_t name[MAX_PATH];
  size_t length = 0;
  for (const char* c = info->szDll; *c; ++c) {
    if (length + 1 >= MAX_PATH || static_cast<unsigned char>(*c) >= 0x80) EndRun();
    name[length++] = static_cast<wchar_t>(*c);
  }
  name[length] = L'\0';
  // Never handed back empty: the helper would then load the plain name.
  HMODULE module = LoadSystemLibrary(name);
  if (module == nullptr) EndRun();
  return reinterpret_cast<FARPROC>(module);
}

FARPROC WINAPI OnDelayLoadFailure(unsigned, PDelayLoadInfo) { EndRun(); }

}  // namespace

PfnDliHook __pfnDliNotifyHook2 = &OnDelayLoadNotice;
PfnDliHook __pfnDliFailureHook2 = &OnDelayLoadFailure;

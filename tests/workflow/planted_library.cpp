// Stands in for a system DLL of the same name, placed beside a program to
// show whether that program loads it instead of the system's: once loaded,
// it creates "<its own file>.loaded" beside itself. It exports nothing, so a
// program that binds a function to it fails as well.
#include <windows.h>

#include <cwchar>

extern "C" BOOL WINAPI DllMain(HINSTANCE module, DWORD reason, void*) {
  if (reason != DLL_PROCESS_ATTACH) return TRUE;
  const wchar_t kSuffix[] = L".loaded";
  wchar_t path[MAX_PATH + sizeof kSuffix / sizeof kSuffix[0]];
  const DWORD length = ::GetModuleFileNameW(module, path, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return TRUE;
  std::wmemcpy(path + length, kSuffix, sizeof kSuffix / sizeof kSuffix[0]);
  HANDLE marker = ::CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (marker != INVALID_HANDLE_VALUE) ::CloseHandle(marker);
  return TRUE;
}

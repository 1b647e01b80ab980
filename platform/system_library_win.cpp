#include "platform/system_library.h"

#include <cwchar>

namespace {

// LOAD_LIBRARY_SEARCH_SYSTEM32, which the platform knows since the update
// that brought SetDefaultDllDirectories; an older one refuses the flag.
constexpr DWORD kSearchSystem32 = 0x00000800;

using SetDefaultDllDirectoriesFunction = BOOL(WINAPI*)(DWORD);

}  // namespace

void RestrictLibrarySearch() noexcept {
  ::SetErrorMode(::GetErrorMode() | SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
  // Looked up, not imported: a Windows 7 without that update lacks it, and
  // an import the loader cannot bind would keep the program from starting.
  HMODULE kernel = ::GetModuleHandleW(L"kernel32.dll");
  const auto setDefault =
      kernel ? reinterpret_cast<SetDefaultDllDirectoriesFunction>(reinterpret_cast<void (*)()>(
                   ::GetProcAddress(kernel, "SetDefaultDllDirectories")))
             : nullptr;
  if (setDefault && setDefault(kSearchSystem32)) return;
  // The current folder at least leaves the search; the exe's own stays,
  // which LoadSystemLibrary does not search.
  ::SetDllDirectoryW(L"");
}

HMODULE LoadSystemLibrary(const wchar_t* name) noexcept {
  if (HMODULE module = ::LoadLibraryExW(name, nullptr, kSearchSystem32)) return module;
  if (::GetLastError() != ERROR_INVALID_PARAMETER) return nullptr;
  // A platform without the flag: the full path, and the DLL's own folder in
  // place of the exe's for what it imports in turn.
  wchar_t path[MAX_PATH];
  const size_t nameLength = std::wcslen(name);
  const UINT length = ::GetSystemDirectoryW(path, MAX_PATH);
  if (length == 0 || length + 1 + nameLength + 1 > MAX_PATH) {
    ::SetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
  }
  path[length] = L'\\';
  std::wmemcpy(path + length + 1, name, nameLength + 1);
  return ::LoadLibraryExW(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

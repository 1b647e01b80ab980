// Stands in for the middleware's installer in the workflow tests. Appends
// one record of how it was started to the file named by
// TAVRIN_TEST_INSTALLER_LOG: its own path and its command line, a line each,
// then a line "END". Records TAVRIN_TEST_INSTALLER_LASTUPDATE, when set, as the
// machine's "lastupdate" as the real installer does. With
// TAVRIN_TEST_INSTALLER_BROADCAST set, tells every top-level window that the
// environment changed, with SendMessage, which waits for each of them, as
// installers do. Waits TAVRIN_TEST_INSTALLER_HOLD_MS milliseconds, then exits
// with the number in TAVRIN_TEST_INSTALLER_EXIT (0 without either). Plain platform calls only:
// the test server sends this file as a download, so it is kept small.
#include <windows.h>

namespace {

void Append(HANDLE log, const wchar_t* text) {
  char utf8[4096];
  const int size = ::WideCharToMultiByte(CP_UTF8, 0, text, -1, utf8, sizeof utf8, nullptr, nullptr);
  DWORD written = 0;
  if (size > 1) ::WriteFile(log, utf8, static_cast<DWORD>(size - 1), &written, nullptr);
  ::WriteFile(log, "\n", 1, &written, nullptr);
}

// The decimal number in variable `name`; 0 when it is not set.
DWORD EnvironmentNumber(const wchar_t* name) {
  wchar_t text[32] = {};
  if (!::GetEnvironmentVariableW(name, text, 32)) return 0;
  DWORD value = 0;
  for (const wchar_t* digit = text; *digit >= L'0' && *digit <= L'9'; ++digit)
    value = value * 10 + static_cast<DWORD>(*digit - L'0');
  return value;
}

// The installed version as the updater reads it: HKLM, in this program's
// registry view, which is the updater's (both are built alike).
void RecordLastUpdate() {
  wchar_t version[260] = {};
  const DWORD length = ::GetEnvironmentVariableW(L"TAVRIN_TEST_INSTALLER_LASTUPDATE", version, 260);
  if (length == 0 || length >= 260) return;
  HKEY key = nullptr;
  if (::RegCreateKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\tavrin\\brenlo", 0, nullptr, 0,
                        KEY_SET_VALUE, nullptr, &key, nullptr) != ERROR_SUCCESS)
    return;
  ::RegSetValueExW(key, L"lastupdate", 0, REG_SZ, reinterpret_cast<const BYTE*>(version),
                   (length + 1) * sizeof(wchar_t));
  ::RegCloseKey(key);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  wchar_t logPath[MAX_PATH * 2] = {};
  if (::GetEnvironmentVariableW(L"TAVRIN_TEST_INSTALLER_LOG", logPath, MAX_PATH * 2)) {
    HANDLE log = ::CreateFileW(logPath, FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
    if (log != INVALID_HANDLE_VALUE) {
      wchar_t path[MAX_PATH * 2] = {};
      ::GetModuleFileNameW(nullptr, path, MAX_PATH * 2);
      Append(log, path);
      Append(log, ::GetCommandLineW());
      Append(log, L"END");
      ::CloseHandle(log);
    }
  }
  RecordLastUpdate();
  if (::GetEnvironmentVariableW(L"TAVRIN_TEST_INSTALLER_BROADCAST", nullptr, 0))
    ::SendMessageW(HWND_BROADCAST, WM_SETTINGCHANGE, 0, reinterpret_cast<LPARAM>(L"Environment"));
  // Holds on like a long installation when asked to.
  ::Sleep(EnvironmentNumber(L"TAVRIN_TEST_INSTALLER_HOLD_MS"));
  return static_cast<int>(EnvironmentNumber(L"TAVRIN_TEST_INSTALLER_EXIT"));
}

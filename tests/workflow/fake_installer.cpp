// Stands in for the middleware's installer in the workflow tests. Appends
// one record of how it was started to the file named by
// TAVRIN_TEST_INSTALLER_LOG: its own path and its command line, a line each,
// then a line "END". Exits with the number in TAVRIN_TEST_INSTALLER_EXIT
// (0 without it).
#include <windows.h>

#include <cstdlib>
#include <string>

namespace {

std::string Utf8(const wchar_t* text) {
  const int size = ::WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
  std::string utf8(size > 0 ? size : 1, '\0');
  if (size > 0) ::WideCharToMultiByte(CP_UTF8, 0, text, -1, &utf8[0], size, nullptr, nullptr);
  utf8.resize(utf8.size() - 1);
  return utf8;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  wchar_t path[MAX_PATH * 2] = {};
  ::GetModuleFileNameW(nullptr, path, MAX_PATH * 2);
  const std::string record = Utf8(path) + "\n" + Utf8(::GetCommandLineW()) + "\nEND\n";

  wchar_t logPath[MAX_PATH * 2] = {};
  if (::GetEnvironmentVariableW(L"TAVRIN_TEST_INSTALLER_LOG", logPath, MAX_PATH * 2)) {
    HANDLE log = ::CreateFileW(logPath, FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
    if (log != INVALID_HANDLE_VALUE) {
      DWORD written = 0;
      ::WriteFile(log, record.data(), static_cast<DWORD>(record.size()), &written, nullptr);
      ::CloseHandle(log);
    }
  }

  wchar_t code[32] = {};
  if (!::GetEnvironmentVariableW(L"TAVRIN_TEST_INSTALLER_EXIT", code, 32)) return 0;
  return static_cast<int>(wcstoul(code, nullptr, 10));
}

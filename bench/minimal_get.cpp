// The least a program does to fetch one URL over WinInet, with the calls and
// flags the updater's own request uses: the floor that the updater's start
// and download are measured against.
//
//   minimal_get URL                one GET; the body is read and dropped
//   minimal_get URL FILE REPORT    the body saved to FILE in 64 KiB pieces, then
//                                  REPORT gets "<ms from entry to FILE closed>
//                                  <peak working set in bytes>"
//
// Exit code 0 when a whole answer was read (and saved), 1 otherwise.
#include <windows.h>
#include <psapi.h>
#include <wininet.h>

#include <cstdio>
#include <cstdlib>

namespace {

// Owns a WinInet handle; plain calls only, so that this program maps no
// more than WinInet and the system's base.
class InternetHandle {
 public:
  explicit InternetHandle(HINTERNET handle) : m_h(handle) {}
  ~InternetHandle() {
    if (m_h) InternetCloseHandle(m_h);
  }
  InternetHandle(const InternetHandle&) = delete;
  InternetHandle& operator=(const InternetHandle&) = delete;
  HINTERNET Get() const { return m_h; }

 private:
  HINTERNET m_h;
};

bool Fetch(const char* url, HANDLE file) {
  char host[256] = {}, path[2048] = {};
  URL_COMPONENTSA parts = {};
  parts.dwStructSize = sizeof parts;
  parts.lpszHostName = host;
  parts.dwHostNameLength = sizeof host;
  parts.lpszUrlPath = path;
  parts.dwUrlPathLength = sizeof path;
  if (!InternetCrackUrlA(url, 0, 0, &parts)) return false;
  const bool secure = parts.nScheme == INTERNET_SCHEME_HTTPS;

  InternetHandle root(InternetOpenA("Updater", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
  if (!root.Get()) return false;
  InternetHandle connection(InternetConnectA(root.Get(), host, parts.nPort, nullptr, nullptr,
                                             INTERNET_SERVICE_HTTP, 0, 0));
  if (!connection.Get()) return false;
  const DWORD flags =
      INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_AUTO_REDIRECT | (secure ? INTERNET_FLAG_SECURE : 0);
  InternetHandle request(
      HttpOpenRequestA(connection.Get(), "GET", path, nullptr, nullptr, nullptr, flags, 0));
  if (!request.Get() || !HttpSendRequestA(request.Get(), nullptr, 0, nullptr, 0)) return false;

  static char piece[64 * 1024];
  for (;;) {
    DWORD read = 0;
    if (!InternetReadFile(request.Get(), piece, sizeof piece, &read)) return false;
    if (read == 0) return true;
    DWORD written = 0;
    if (file != INVALID_HANDLE_VALUE &&
        (!WriteFile(file, piece, read, &written, nullptr) || written != read))
      return false;
  }
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  LARGE_INTEGER start, end, frequency;
  QueryPerformanceCounter(&start);
  if (__argc != 2 && __argc != 4) return 2;
  char url[2048] = {};
  WideCharToMultiByte(CP_ACP, 0, __wargv[1], -1, url, sizeof url, nullptr, nullptr);

  HANDLE file = INVALID_HANDLE_VALUE;
  if (__argc == 4) {
    file =
        CreateFileW(__wargv[2], GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return 1;
  }
  const bool fetched = Fetch(url, file);
  if (file == INVALID_HANDLE_VALUE) return fetched ? 0 : 1;
  CloseHandle(file);
  QueryPerformanceCounter(&end);
  QueryPerformanceFrequency(&frequency);

  PROCESS_MEMORY_COUNTERS memory = {};
  memory.cb = sizeof memory;
  GetProcessMemoryInfo(GetCurrentProcess(), &memory, sizeof memory);
  char report[128];
  const int length = std::snprintf(report, sizeof report, "%.3f %llu\n",
                                   1000.0 * static_cast<double>(end.QuadPart - start.QuadPart) /
                                       static_cast<double>(frequency.QuadPart),
                                   static_cast<unsigned long long>(memory.PeakWorkingSetSize));
  HANDLE out = CreateFileW(__wargv[3], GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (out == INVALID_HANDLE_VALUE) return 1;
  DWORD written = 0;
  WriteFile(out, report, static_cast<DWORD>(length), &written, nullptr);
  CloseHandle(out);
  return fetched ? 0 : 1;
}

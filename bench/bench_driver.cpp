// Measures the updater under Wine beside the least a program could do in its
// place, each pair alternately in the same run, under the same Wine, with one
// clock (QueryPerformanceCounter, which every process of a Wine session reads
// alike):
//
//   get       process start to the check's GET arriving at a loopback listener
//             of this program, against minimal_get doing the same one GET;
//   download  "Yes" pressed to the installer saved and started, and the peak
//             working set, against minimal_get saving the same body to a file;
//   large     the same with a larger body, fewer times: whether the peak grows
//             with the installer;
//   wait      a copy waiting for its reminder, CPU time (the Linux scheduler's,
//             read through Z:\proc), working set and private memory over a
//             while, against idle_window, a hidden window with a 90 s timer;
//   early     process start to the end of a quiet start with updates switched
//             off, against same_imports, which maps the same DLLs and ends.
//
//   bench_driver OUT SERVER DOWNLOAD_BYTES RUNS DOWNLOAD_RUNS WAIT_SECONDS
//                LARGE_BYTES LARGE_RUNS
//
// OUT gets one line per sample, "<figure> <program> <value>"; SERVER is the
// base URL of bench/download_server.py, which serves each size at
// SERVER/<bytes>/check. Each figure but "large" starts with one run of each
// program that is not counted; "large" follows "download", which has warmed
// the same code, server and folder. Exit code 0 when every run ended as
// expected; otherwise 1 after a message.
#include <winsock2.h>
#include <windows.h>
#include <psapi.h>
#include <shlobj.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <functional>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/unique_handle.h"
#include "resources/resource.h"
#include "tests/support/run_raw.h"
#include "tests/support/ui_driver.h"

namespace {

constexpr DWORD kStartMs = 30000;
constexpr DWORD kDownloadMs = 180000;
// The stand-in installer holds on this long, so that the updater's peak is
// read while it waits for the installer, before it ends.
constexpr wchar_t kInstallerHoldMs[] = L"2000";
// A waiting copy is left this long after its window appears before the
// minute starts: its start-up is measured by "early" and "get".
constexpr DWORD kSettleMs = 5000;
constexpr wchar_t kSettingsKey[] = L"SOFTWARE\\tavrin\\brenlo";
constexpr wchar_t kIdleClass[] = L"TavrinBenchIdleWindow";

struct Failure : std::runtime_error {
  using std::runtime_error::runtime_error;
};

LONGLONG Now() {
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  return now.QuadPart;
}

double MsBetween(LONGLONG from, LONGLONG to) {
  LARGE_INTEGER frequency;
  QueryPerformanceFrequency(&frequency);
  return 1000.0 * static_cast<double>(to - from) / static_cast<double>(frequency.QuadPart);
}

std::string Narrow(const std::wstring& text) {
  return std::string(text.begin(), text.end());  // messages only
}

std::wstring Quoted(const std::wstring& text) { return L"\"" + text + L"\""; }

// A program started for a measurement: when it was started, and a handle
// that reads its counters.
class Measured {
 public:
  explicit Measured(const std::wstring& command, const std::vector<std::wstring>& environment = {})
      : m_started(Now()), m_process(command, environment) {
    if (!m_process.Started()) throw Failure("cannot start " + Narrow(command));
    m_hQuery.Reset(
        OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ | SYNCHRONIZE, FALSE, Id()));
    if (!m_hQuery) throw Failure("cannot open the process of " + Narrow(command));
  }

  LONGLONG Started() const { return m_started; }
  DWORD Id() const { return m_process.Id(); }
  bool Running() const { return WaitForSingleObject(m_hQuery.Get(), 0) == WAIT_TIMEOUT; }

  // The moment it ended, once it has ended with `expectedExitCode`.
  LONGLONG End(DWORD expectedExitCode, DWORD timeoutMs = kStartMs) {
    DWORD exitCode = 0;
    if (!m_process.Wait(timeoutMs, exitCode)) throw Failure("a program did not end in time");
    const LONGLONG ended = Now();
    if (exitCode != expectedExitCode) {
      char message[96];
      std::snprintf(message, sizeof message, "a program ended with 0x%lX instead of 0x%lX",
                    exitCode, expectedExitCode);
      throw Failure(message);
    }
    return ended;
  }

  // Working set now and at its peak; under Wine the kernel's VmRSS and VmHWM.
  PROCESS_MEMORY_COUNTERS Memory() const {
    PROCESS_MEMORY_COUNTERS memory = {};
    memory.cb = sizeof memory;
    if (!GetProcessMemoryInfo(m_hQuery.Get(), &memory, sizeof memory))
      throw Failure("no memory counters");
    return memory;
  }

 private:
  LONGLONG m_started;
  RawProcess m_process;
  UniqueKernelHandle m_hQuery;
};

// CPU time in nanoseconds by thread id.
using ThreadCpu = std::map<std::wstring, unsigned long long>;

// The Linux process under a Wine process, read through Z:\proc for what Wine
// cannot tell of another process: GetProcessTimes there answers with the
// caller's own times. Found by a marker among its arguments, since Wine shows
// the Windows command line as the process's own; the programs read this way
// ignore an extra argument.
class LinuxProcess {
 public:
  explicit LinuxProcess(const std::string& marker) {
    WIN32_FIND_DATAW found;
    UniqueFindHandle search(FindFirstFileW(L"Z:\\proc\\*", &found));
    if (search) {
      do {
        if (found.cFileName[0] < L'0' || found.cFileName[0] > L'9') continue;
        const std::wstring folder = std::wstring(L"Z:\\proc\\") + found.cFileName;
        if (FileBytes(folder + L"\\cmdline").find(marker) == std::string::npos) continue;
        if (!m_folder.empty()) throw Failure("two processes carry " + marker);
        m_folder = folder;
      } while (FindNextFileW(search.Get(), &found));
    }
    if (m_folder.empty()) throw Failure("no Linux process carries " + marker);
  }

  // The CPU time each of its threads has used so far: the first field of the
  // thread's schedstat, the scheduler's own count in nanoseconds.
  ThreadCpu Cpu() const {
    ThreadCpu threads;
    WIN32_FIND_DATAW found;
    UniqueFindHandle search(FindFirstFileW((m_folder + L"\\task\\*").c_str(), &found));
    if (!search) throw Failure("no threads under " + Narrow(m_folder));
    do {
      if (found.cFileName[0] < L'0' || found.cFileName[0] > L'9') continue;
      const std::string stat = FileBytes(m_folder + L"\\task\\" + found.cFileName + L"\\schedstat");
      if (!stat.empty()) threads[found.cFileName] = std::strtoull(stat.c_str(), nullptr, 10);
    } while (FindNextFileW(search.Get(), &found));
    if (threads.empty()) throw Failure("no scheduler statistics under " + Narrow(m_folder));
    return threads;
  }

  // A field of its smaps_rollup in bytes. Private_Clean + Private_Dirty is
  // the memory only this process holds: unlike the working set it leaves out
  // the pages that other processes map too, such as those of Wine's and the
  // system's DLLs, which a user pays for once whatever runs.
  double RollupBytes(const char* field) const {
    const std::string rollup = FileBytes(m_folder + L"\\smaps_rollup");
    const std::string name = std::string("\n") + field + ":";
    const size_t at = rollup.find(name);
    if (at == std::string::npos) throw Failure("no " + std::string(field) + " in smaps_rollup");
    return std::strtod(rollup.c_str() + at + name.size(), nullptr) * 1024;  // given in kB
  }

 private:
  std::wstring m_folder;
};

double TotalMs(const ThreadCpu& threads) {
  unsigned long long total = 0;
  for (const auto& thread : threads) total += thread.second;
  return static_cast<double>(total) / 1e6;
}

// CPU time used between two readings by the threads alive at the second; a
// thread that began in between counts whole.
double CpuBetween(const ThreadCpu& before, const ThreadCpu& after) {
  unsigned long long used = 0;
  for (const auto& [thread, ns] : after) {
    const auto earlier = before.find(thread);
    used += ns - (earlier == before.end() ? 0 : earlier->second);
  }
  return static_cast<double>(used) / 1e6;
}

// Threads that ended between two readings: their last CPU time is not counted.
double ThreadsEnded(const ThreadCpu& before, const ThreadCpu& after) {
  double ended = 0;
  for (const auto& thread : before) ended += after.count(thread.first) ? 0 : 1;
  return ended;
}

// The moment `condition` first held, polled every 2 ms while `program` runs.
LONGLONG PollUntil(const std::function<bool()>& condition, const Measured& program, DWORD timeoutMs,
                   const char* what) {
  const ULONGLONG deadline = GetTickCount64() + timeoutMs;
  for (;;) {
    if (condition()) return Now();
    if (!program.Running()) throw Failure(std::string("the program ended before ") + what);
    if (GetTickCount64() >= deadline) throw Failure(std::string("no ") + what + " in time");
    Sleep(2);
  }
}

class Figures {
 public:
  explicit Figures(const wchar_t* path) : m_file(_wfopen(path, L"w")) {
    if (!m_file) throw Failure("cannot write the figures");
  }
  ~Figures() { std::fclose(m_file); }
  Figures(const Figures&) = delete;
  Figures& operator=(const Figures&) = delete;

  void Add(const char* figure, const char* program, double value) {
    std::fprintf(m_file, "%s %s %.3f\n", figure, program, value);
    std::fflush(m_file);
  }

 private:
  FILE* m_file;
};

// A loopback listener that answers each request with 204, "no update".
class Listener {
 public:
  Listener() : m_socket(socket(AF_INET, SOCK_STREAM, IPPROTO_TCP)) {
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int length = sizeof address;
    if (m_socket == INVALID_SOCKET ||
        bind(m_socket, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
        listen(m_socket, 4) != 0 ||
        getsockname(m_socket, reinterpret_cast<sockaddr*>(&address), &length) != 0)
      throw Failure("no loopback listener");
    m_port = ntohs(address.sin_port);
  }
  ~Listener() { closesocket(m_socket); }
  Listener(const Listener&) = delete;
  Listener& operator=(const Listener&) = delete;

  std::wstring Url() const { return L"http://127.0.0.1:" + std::to_wstring(m_port) + L"/check"; }

  // Whether a connection is waiting to be accepted.
  bool Pending() const { return Readable(m_socket, 0); }

  // The moment the head of the next request arrived; the request is then
  // answered with 204 and its connection closed.
  LONGLONG AnswerOne(DWORD timeoutMs) {
    if (!Readable(m_socket, timeoutMs)) throw Failure("no request in time");
    const SOCKET client = accept(m_socket, nullptr, nullptr);
    if (client == INVALID_SOCKET) throw Failure("accept failed");
    std::string request;
    LONGLONG arrived = 0;
    while (request.find("\r\n\r\n") == std::string::npos) {
      char piece[2048];
      const int received = Readable(client, timeoutMs) ? recv(client, piece, sizeof piece, 0) : -1;
      if (received <= 0) break;
      request.append(piece, static_cast<size_t>(received));
      arrived = Now();
    }
    static const char kAnswer[] =
        "HTTP/1.1 204 No Content\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";
    send(client, kAnswer, sizeof kAnswer - 1, 0);
    shutdown(client, SD_SEND);
    closesocket(client);
    if (request.compare(0, 4, "GET ") != 0 || request.find("\r\n\r\n") == std::string::npos)
      throw Failure("not a whole GET");
    return arrived;
  }

 private:
  static bool Readable(SOCKET socket, DWORD timeoutMs) {
    fd_set set;
    FD_ZERO(&set);
    FD_SET(socket, &set);
    timeval timeout = {static_cast<long>(timeoutMs / 1000),
                       static_cast<long>(timeoutMs % 1000 * 1000)};
    return select(0, &set, nullptr, nullptr, &timeout) == 1;
  }

  SOCKET m_socket;
  unsigned m_port = 0;
};

// The program's user settings and autostart value removed. HKCU\SOFTWARE is
// one view for 32- and 64-bit programs alike.
void ClearProgramState() {
  RegDeleteTreeW(HKEY_CURRENT_USER, kSettingsKey);
  RegDeleteKeyValueW(HKEY_CURRENT_USER, L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run",
                     L"tavrin-brenlo");
}

void SetSetting(const wchar_t* name, DWORD type, const void* data, DWORD size) {
  if (RegSetKeyValueW(HKEY_CURRENT_USER, kSettingsKey, name, type, data, size) != ERROR_SUCCESS)
    throw Failure("cannot write a setting");
}

void SetDwordSetting(const wchar_t* name, DWORD value) {
  SetSetting(name, REG_DWORD, &value, sizeof value);
}

// Where the updater saves the installer: %USERPROFILE%\tavrin\brenlo.
std::wstring InstallerFolder() {
  wchar_t profile[MAX_PATH] = {};
  if (!SHGetSpecialFolderPathW(nullptr, profile, CSIDL_PROFILE, FALSE))
    throw Failure("no profile folder");
  return std::wstring(profile) + L"\\tavrin\\brenlo";
}

// The size of the first file matching `pattern`; -1 when none does.
LONGLONG MatchingFileSize(const std::wstring& pattern) {
  WIN32_FIND_DATAW found;
  UniqueFindHandle search(FindFirstFileW(pattern.c_str(), &found));
  if (!search) return -1;
  return static_cast<LONGLONG>((static_cast<ULONGLONG>(found.nFileSizeHigh) << 32) |
                               found.nFileSizeLow);
}

void DeleteMatching(const std::wstring& folder, const wchar_t* pattern) {
  WIN32_FIND_DATAW found;
  UniqueFindHandle search(FindFirstFileW((folder + L"\\" + pattern).c_str(), &found));
  if (!search) return;
  do {
    DeleteFileW((folder + L"\\" + found.cFileName).c_str());
  } while (FindNextFileW(search.Get(), &found));
}

std::wstring TempPath(const wchar_t* name) {
  wchar_t folder[MAX_PATH] = {};
  GetTempPathW(MAX_PATH, folder);
  return std::wstring(folder) + name;
}

HWND FindIdleWindow(DWORD processId) {
  HWND window = nullptr;
  while ((window = FindWindowExW(nullptr, window, kIdleClass, nullptr))) {
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner == processId) return window;
  }
  return nullptr;
}

void Progress(const char* figure, int run, int runs) {
  std::printf("%s: %s\n", figure,
              run < 0 ? "warm-up" : (std::to_string(run + 1) + "/" + std::to_string(runs)).c_str());
  std::fflush(stdout);
}

void MeasureStartToGet(Figures& figures, Listener& listener, int runs) {
  const std::wstring updater = ProgramCommand(L"\"\" " + listener.Url() + L" 0");
  const std::wstring minimal = Quoted(PathBesideMe(L"minimal_get.exe")) + L" " + listener.Url();
  ClearProgramState();
  for (int run = -1; run < runs; ++run) {
    Progress("get", run, runs);
    {
      Measured program(updater);
      const LONGLONG arrived = listener.AnswerOne(kStartMs);
      program.End(1);  // "no update": the run ends unseen with 1
      if (run >= 0) figures.Add("get_ms", "updater", MsBetween(program.Started(), arrived));
    }
    {
      Measured program(minimal);
      const LONGLONG arrived = listener.AnswerOne(kStartMs);
      program.End(0);
      if (run >= 0) figures.Add("get_ms", "minimal_get", MsBetween(program.Started(), arrived));
    }
  }
}

// `figure` names the rows: <figure>_saved_ms, <figure>_started_ms and
// <figure>_peak_bytes. With `warmUp`, one uncounted run of each comes first.
void MeasureDownload(Figures& figures, const char* figure, const std::wstring& server,
                     LONGLONG bytes, int runs, bool warmUp) {
  const std::wstring folder = InstallerFolder();
  const std::wstring base = server + L"/" + std::to_wstring(bytes);
  const std::string savedMs = std::string(figure) + "_saved_ms";
  const std::string startedMs = std::string(figure) + "_started_ms";
  const std::string peakBytes = std::string(figure) + "_peak_bytes";
  SHCreateDirectoryExW(nullptr, folder.c_str(), nullptr);
  const std::wstring log = TempPath(L"tavrin-bench-installer.log");
  const std::wstring saved = folder + L"\\minimal-get.bin";
  const std::wstring report = TempPath(L"tavrin-bench-minimal-get.txt");
  const std::wstring minimal = Quoted(PathBesideMe(L"minimal_get.exe")) + L" " + base +
                               L"/installer.exe " + Quoted(saved) + L" " + Quoted(report);
  for (int run = warmUp ? -1 : 0; run < runs; ++run) {
    Progress(figure, run, runs);
    ClearProgramState();
    DeleteMatching(folder, L"*");
    DeleteFileW(log.c_str());
    {
      Measured program(ProgramCommand(L"\"\" " + base + L"/check 0"),
                       {L"TAVRIN_TEST_INSTALLER_LOG=" + log,
                        std::wstring(L"TAVRIN_TEST_INSTALLER_HOLD_MS=") + kInstallerHoldMs});
      const HWND dialog = WaitForShownDialog(program.Id(), kStartMs);
      if (!dialog) throw Failure("no offer");
      const LONGLONG yes = Now();
      PressButton(dialog, IDC_YES_BUTTON);
      LONGLONG size = -1;
      const LONGLONG installerSaved =
          PollUntil([&] { return (size = MatchingFileSize(folder + L"\\*-middleware.exe")) >= 0; },
                    program, kDownloadMs, "saved installer");
      if (size != bytes) throw Failure("the saved installer has another size");
      const LONGLONG installerStarted = PollUntil([&] { return MatchingFileSize(log) > 0; },
                                                  program, kStartMs, "installer start");
      const SIZE_T peak = program.Memory().PeakWorkingSetSize;
      program.End(0, kStartMs);  // the stand-in installer ends with 0
      if (run >= 0) {
        figures.Add(savedMs.c_str(), "updater", MsBetween(yes, installerSaved));
        figures.Add(startedMs.c_str(), "updater", MsBetween(yes, installerStarted));
        figures.Add(peakBytes.c_str(), "updater", static_cast<double>(peak));
      }
    }
    {
      DeleteFileW(report.c_str());
      Measured program(minimal);
      program.End(0, kDownloadMs);
      if (MatchingFileSize(saved) != bytes) throw Failure("minimal_get saved another size");
      double ms = 0;
      unsigned long long peak = 0;
      FILE* file = _wfopen(report.c_str(), L"r");
      const bool read = file && std::fscanf(file, "%lf %llu", &ms, &peak) == 2;
      if (file) std::fclose(file);
      if (!read) throw Failure("no report from minimal_get");
      if (run >= 0) {
        figures.Add(savedMs.c_str(), "minimal_get", ms);
        figures.Add(peakBytes.c_str(), "minimal_get", static_cast<double>(peak));
      }
    }
  }
  DeleteMatching(folder, L"*");
  DeleteFileW(log.c_str());
  DeleteFileW(report.c_str());
  ClearProgramState();
}

// Both programs wait side by side through the same stretch of time.
void MeasureWaiting(Figures& figures, Listener& listener, DWORD waitSeconds) {
  std::printf("wait: %lu s\n", waitSeconds);
  std::fflush(stdout);
  ClearProgramState();
  // What a reminder leaves: tomorrow, chosen now, offers off meanwhile.
  SetDwordSetting(L"delaymode", 1);
  const long long now = static_cast<long long>(std::time(nullptr));
  SetSetting(L"lasttime", REG_QWORD, &now, sizeof now);
  SetDwordSetting(L"md_cu_disable", 1);

  // Each carries a marker argument, by which its Linux process is found.
  const std::wstring marker = L"bench-wait-" + std::to_wstring(GetCurrentProcessId());
  Measured copy(ProgramCommand(L"\"\" " + listener.Url() + L" 0 " + marker + L"-copy"));
  Measured idle(Quoted(PathBesideMe(L"idle_window.exe")) + L" " + marker + L"-idle");
  HWND copyWindow = nullptr, idleWindow = nullptr;
  PollUntil([&] { return (copyWindow = FindProgramDialog(copy.Id())) != nullptr; }, copy, kStartMs,
            "window of the waiting copy");
  PollUntil([&] { return (idleWindow = FindIdleWindow(idle.Id())) != nullptr; }, idle, kStartMs,
            "idle window");
  const LinuxProcess copyLinux(Narrow(marker + L"-copy")), idleLinux(Narrow(marker + L"-idle"));
  Sleep(kSettleMs);

  const ThreadCpu copyCpu = copyLinux.Cpu(), idleCpu = idleLinux.Cpu();
  const SIZE_T copyBefore = copy.Memory().WorkingSetSize;
  const SIZE_T idleBefore = idle.Memory().WorkingSetSize;
  Sleep(waitSeconds * 1000);
  const ThreadCpu copyCpuAfter = copyLinux.Cpu(), idleCpuAfter = idleLinux.Cpu();
  const PROCESS_MEMORY_COUNTERS copyAfter = copy.Memory(), idleAfter = idle.Memory();

  if (!copy.Running() || IsWindowVisible(copyWindow) || listener.Pending())
    throw Failure("the copy did not wait hidden without checking");
  // What each used before the stretch shows that the counter counts.
  figures.Add("wait_cpu_before_ms", "updater", TotalMs(copyCpu));
  figures.Add("wait_cpu_before_ms", "idle_window", TotalMs(idleCpu));
  figures.Add("wait_cpu_ms", "updater", CpuBetween(copyCpu, copyCpuAfter));
  figures.Add("wait_cpu_ms", "idle_window", CpuBetween(idleCpu, idleCpuAfter));
  figures.Add("wait_threads", "updater", static_cast<double>(copyCpuAfter.size()));
  figures.Add("wait_threads", "idle_window", static_cast<double>(idleCpuAfter.size()));
  figures.Add("wait_threads_ended", "updater", ThreadsEnded(copyCpu, copyCpuAfter));
  figures.Add("wait_threads_ended", "idle_window", ThreadsEnded(idleCpu, idleCpuAfter));
  figures.Add("wait_rss_bytes", "updater", static_cast<double>(copyAfter.WorkingSetSize));
  figures.Add("wait_rss_bytes", "idle_window", static_cast<double>(idleAfter.WorkingSetSize));
  figures.Add("wait_rss_growth_bytes", "updater",
              static_cast<double>(copyAfter.WorkingSetSize) - static_cast<double>(copyBefore));
  figures.Add("wait_rss_growth_bytes", "idle_window",
              static_cast<double>(idleAfter.WorkingSetSize) - static_cast<double>(idleBefore));
  figures.Add("wait_peak_bytes", "updater", static_cast<double>(copyAfter.PeakWorkingSetSize));
  figures.Add("wait_peak_bytes", "idle_window", static_cast<double>(idleAfter.PeakWorkingSetSize));
  for (const auto& [name, process] :
       {std::make_pair("updater", &copyLinux), std::make_pair("idle_window", &idleLinux)}) {
    const double dirty = process->RollupBytes("Private_Dirty");
    figures.Add("wait_private_bytes", name, process->RollupBytes("Private_Clean") + dirty);
    figures.Add("wait_private_dirty_bytes", name, dirty);
  }

  PostMessageW(copyWindow, WM_CLOSE, 0, 0);
  PostMessageW(idleWindow, WM_CLOSE, 0, 0);
  copy.End(1);
  idle.End(0);
  ClearProgramState();
}

void MeasureEarlyExit(Figures& figures, Listener& listener, int runs) {
  ClearProgramState();
  SetDwordSetting(L"md_cu_disable", 1);  // "/p" then ends at once with 0
  const std::wstring updater = ProgramCommand(L"/p \"\" " + listener.Url() + L" 0");
  const std::wstring floor = Quoted(PathBesideMe(L"same_imports.exe"));
  for (int run = -1; run < runs; ++run) {
    Progress("early", run, runs);
    for (const auto& [name, command] :
         {std::make_pair("updater", &updater), std::make_pair("same_imports", &floor)}) {
      Measured program(*command);
      const LONGLONG ended = program.End(0);
      if (run >= 0) figures.Add("early_ms", name, MsBetween(program.Started(), ended));
    }
  }
  if (listener.Pending()) throw Failure("a quiet start asked the server");
  ClearProgramState();
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc != 9) {
    std::fprintf(stderr,
                 "usage: bench_driver OUT SERVER DOWNLOAD_BYTES RUNS DOWNLOAD_RUNS WAIT_SECONDS"
                 " LARGE_BYTES LARGE_RUNS\n");
    return 2;
  }
  WSADATA winsock;
  if (WSAStartup(MAKEWORD(2, 2), &winsock) != 0) return 1;
  try {
    Figures figures(argv[1]);
    const std::wstring server = argv[2];
    const LONGLONG bytes = _wtoi64(argv[3]);
    const int runs = _wtoi(argv[4]), downloadRuns = _wtoi(argv[5]);
    const DWORD waitSeconds = static_cast<DWORD>(_wtoi(argv[6]));
    const LONGLONG largeBytes = _wtoi64(argv[7]);
    const int largeRuns = _wtoi(argv[8]);
    Listener listener;
    MeasureEarlyExit(figures, listener, runs);
    MeasureStartToGet(figures, listener, runs);
    MeasureDownload(figures, "download", server, bytes, downloadRuns, true);
    MeasureDownload(figures, "large", server, largeBytes, largeRuns, false);
    MeasureWaiting(figures, listener, waitSeconds);
  } catch (const Failure& failure) {
    ClearProgramState();
    std::fprintf(stderr, "bench_driver: %s\n", failure.what());
    return 1;
  }
  return 0;
}

// The installer's launch through its seam: which verbs it tries, in which
// order, with what, and in which apartment, for each answer of the
// platform's process start; and that what starts is the file as it was
// received, held against writes until it has started.
#include <gtest/gtest.h>
#include <objbase.h>

#include <algorithm>
#include <string>
#include <vector>

#include "tests/support/run_raw.h"
#include "workflow/installer_launch.h"

namespace {

// What the stand-in for the platform's process start saw and answers.
struct Call {
  std::wstring verb;
  std::wstring file;
  std::wstring parameters;
  ULONG mask;
  int show;
  bool inSingleThreadedApartment;
  HWND window;
  bool windowShownAndOurs;  // at the moment of the call
};

// Which apartment the calling thread is in, found by asking for another:
// the platform refuses a change of the kind, and counts a repeat.
enum class Apartment { None, SingleThreaded, Other };
Apartment CurrentApartment() {
  const HRESULT result = ::CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  if (SUCCEEDED(result)) ::CoUninitialize();
  if (result == S_OK) return Apartment::None;
  return result == RPC_E_CHANGED_MODE ? Apartment::SingleThreaded : Apartment::Other;
}
std::vector<Call> g_calls;
std::vector<DWORD> g_answers;  // per call: 0 starts, anything else fails with it
HANDLE g_startedProcess = nullptr;

bool ShownAndOurs(HWND window) {
  DWORD owner = 0;
  ::GetWindowThreadProcessId(window, &owner);
  return ::IsWindowVisible(window) && owner == ::GetCurrentProcessId();
}

BOOL WINAPI FakeExecute(SHELLEXECUTEINFOW* info) {
  g_calls.push_back({info->lpVerb ? info->lpVerb : L"", info->lpFile ? info->lpFile : L"",
                     info->lpParameters ? info->lpParameters : L"", info->fMask, info->nShow,
                     CurrentApartment() == Apartment::SingleThreaded, info->hwnd,
                     ShownAndOurs(info->hwnd)});
  // Past the scripted answers, the last one holds.
  const DWORD answer = g_answers.empty()                    ? 0
                       : g_calls.size() <= g_answers.size() ? g_answers[g_calls.size() - 1]
                                                            : g_answers.back();
  if (answer != 0) {
    ::SetLastError(answer);
    return FALSE;
  }
  info->hProcess = g_startedProcess;
  return TRUE;
}

constexpr DWORD kElevationRequired = 740;

}  // namespace

TEST(LaunchInstaller, OnlyElevationRequiredLeadsToRunasAndOnlyAHeldFileToRetries) {
  struct Case {
    const char* what;
    std::vector<DWORD> answers;
    std::vector<std::wstring> verbs;  // a trailing "open..." stands for a run of "open"
    bool started;
  };
  const Case cases[] = {
      {"started at once", {0}, {L"open"}, true},
      {"elevation required, then started", {kElevationRequired, 0}, {L"open", L"runas"}, true},
      {"elevation required, then refused",
       {kElevationRequired, ERROR_CANCELLED},
       {L"open", L"runas"},
       false},
      {"elevation required twice",
       {kElevationRequired, kElevationRequired},
       {L"open", L"runas"},
       false},
      {"not a program", {ERROR_BAD_EXE_FORMAT}, {L"open"}, false},
      {"user cancelled", {ERROR_CANCELLED}, {L"open"}, false},
      // Another process holds the fresh file for a moment, then lets go.
      {"held, then started",
       {ERROR_SHARING_VIOLATION, ERROR_ACCESS_DENIED, 0},
       {L"open", L"open", L"open"},
       true},
      {"held, then elevation required",
       {ERROR_SHARING_VIOLATION, kElevationRequired, 0},
       {L"open", L"open", L"runas"},
       true},
      // About two seconds of tries at a tenth of a second, then given up.
      {"held for good", {ERROR_SHARING_VIOLATION}, {L"open..."}, false},
  };
  const std::wstring path = L"C:\\users\\Ji\u0159\u00ED\\tavrin\\brenlo\\dex1F.tmp-middleware.exe";
  // The caller's window, shown: the platform's consent prompt is owned by it.
  HWND window = ::CreateWindowExW(0, L"STATIC", L"owner", WS_POPUP | WS_VISIBLE, 0, 0, 50, 50,
                                  nullptr, nullptr, nullptr, nullptr);
  ASSERT_TRUE(window);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    g_calls.clear();
    g_answers = c.answers;
    UniqueKernelHandle event(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    g_startedProcess = event.Get();

    UniqueKernelHandle process;
    EXPECT_EQ(LaunchInstaller(path, window, process, &FakeExecute), c.started);
    // The thread then waits for the installer, and a thread in an apartment
    // owns a window that the installer's broadcasts wait for.
    EXPECT_EQ(CurrentApartment(), Apartment::None) << "an apartment is held after the start";

    std::vector<std::wstring> verbs;
    for (const Call& call : g_calls) {
      verbs.push_back(call.verb);
      EXPECT_TRUE(call.file == path);
      EXPECT_TRUE(call.parameters.empty());
      EXPECT_EQ(call.show, SW_SHOW);
      // The process handle is asked for, the platform's error boxes are not,
      // and the start is over when the call returns.
      EXPECT_EQ(call.mask, static_cast<ULONG>(SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI |
                                              SEE_MASK_NOASYNC));
      // The shell's start asks for a single-threaded apartment.
      EXPECT_TRUE(call.inSingleThreadedApartment);
      // Every try, "runas" too, is owned by the caller's window, shown.
      EXPECT_EQ(call.window, window);
      EXPECT_TRUE(call.windowShownAndOurs);
    }
    if (c.verbs.back() == L"open...") {
      EXPECT_GE(verbs.size(), 10u);
      EXPECT_LE(verbs.size(), 30u);
      EXPECT_EQ(std::count(verbs.begin(), verbs.end(), L"open"), std::ptrdiff_t(verbs.size()));
    } else {
      EXPECT_TRUE(verbs == c.verbs) << verbs.size() << " calls";
    }
    // A started installer's process is handed over to be waited for.
    EXPECT_EQ(process.Get(), c.started ? event.Get() : nullptr);
    if (c.started) process.Release();  // the event's owner closes it
  }
  ::DestroyWindow(window);
}

namespace {

std::wstring g_saved;      // the file the stand-in start tries to change
DWORD g_rewriteError = 0;  // why it could not, or 0 when it could

BOOL WINAPI RewritingExecute(SHELLEXECUTEINFOW* info) {
  g_rewriteError = 0;
  HANDLE file = ::CreateFileW(g_saved.c_str(), GENERIC_WRITE,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    g_rewriteError = ::GetLastError();
  } else {
    DWORD written = 0;
    ::WriteFile(file, "XX", 2, &written, nullptr);
    ::CloseHandle(file);
  }
  info->hProcess = nullptr;
  return TRUE;
}

// The one body file of ours in the download folder whose name ends in `end`.
std::wstring SavedFile(const wchar_t* end) {
  const std::wstring folder = InstallerFolder();
  WIN32_FIND_DATAW found;
  HANDLE search = ::FindFirstFileW((folder + L"\\dex*" + end).c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return {};
  ::FindClose(search);
  return folder + L"\\" + found.cFileName;
}

}  // namespace

TEST(InstallerFile, WhatStartsIsTheFileAsReceivedHeldUntilItStarted) {
  const std::string body = FileBytes(PathBesideMe(L"fake_installer.exe"));
  ASSERT_GT(body.size(), 2000u);
  const auto take = [&](InstallerFile& file) {
    ASSERT_TRUE(file.BeginBody(static_cast<DWORD>(body.size())));
    ASSERT_TRUE(file.TakeBody(body.data(), static_cast<DWORD>(body.size())));
    ASSERT_TRUE(file.HoldsWindowsProgram());
    ASSERT_TRUE(file.CheckBody());
  };
  {
    // Another process tries to change the saved installer just before it
    // starts: it cannot, and it cannot make it go either.
    InstallerFile file("http://127.0.0.1/setup.exe", FALSE);
    take(file);
    EXPECT_EQ(SavedFile(L".tmp-middleware.exe"), L"") << "named as a program before it was whole";
    UniqueFileHandle held;
    ASSERT_TRUE(file.Finish(held));
    g_saved = file.InstallerPath();
    UniqueKernelHandle process;
    EXPECT_TRUE(LaunchInstaller(g_saved, nullptr, process, &RewritingExecute));
    EXPECT_EQ(g_rewriteError, static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    EXPECT_FALSE(::DeleteFileW(g_saved.c_str()));
    EXPECT_TRUE(FileBytes(g_saved) == body) << "the started file is not the one received";
  }
  EXPECT_EQ(SavedFile(L"*"), L"") << "a file is left";
  {
    // Changed between the close of the download and the open that holds
    // it: refused, and deleted.
    InstallerFile file("http://127.0.0.1/setup.exe", FALSE);
    take(file);
    const std::wstring saved = SavedFile(L".tmp");
    ASSERT_NE(saved, L"");
    HANDLE writer = ::CreateFileW(saved.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(writer, INVALID_HANDLE_VALUE) << ::GetLastError();
    DWORD written = 0;
    ::SetFilePointer(writer, 0x200, nullptr, FILE_BEGIN);
    ::WriteFile(writer, "XX", 2, &written, nullptr);
    ::CloseHandle(writer);
    UniqueFileHandle held;
    EXPECT_FALSE(file.Finish(held));
    EXPECT_FALSE(held.IsValid());
    EXPECT_TRUE(file.Failed());
    EXPECT_EQ(SavedFile(L"*"), L"") << "a file is left";
  }
}

// The installer's launch through its seam: which verbs it tries, in which
// order, with what, and in which apartment, for each answer of the
// platform's process start.
#include <gtest/gtest.h>
#include <objbase.h>

#include <algorithm>
#include <string>
#include <vector>

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

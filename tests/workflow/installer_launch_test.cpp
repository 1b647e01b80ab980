// The installer's launch through its seam: which verbs it tries, in which
// order, and with what, for each answer of the platform's process start.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "workflow/installer_launch.h"

namespace {

// What the stand-in for the platform's process start saw and answers.
struct Call {
  std::string verb;
  std::string file;
  std::string parameters;
  ULONG mask;
  int show;
};
std::vector<Call> g_calls;
std::vector<DWORD> g_answers;  // per call: 0 starts, anything else fails with it
HANDLE g_startedProcess = nullptr;

BOOL WINAPI FakeExecute(SHELLEXECUTEINFOA* info) {
  g_calls.push_back({info->lpVerb ? info->lpVerb : "", info->lpFile ? info->lpFile : "",
                     info->lpParameters ? info->lpParameters : "", info->fMask, info->nShow});
  const DWORD answer = g_calls.size() <= g_answers.size() ? g_answers[g_calls.size() - 1] : 0;
  if (answer != 0) {
    ::SetLastError(answer);
    return FALSE;
  }
  info->hProcess = g_startedProcess;
  return TRUE;
}

constexpr DWORD kElevationRequired = 740;

}  // namespace

TEST(LaunchInstaller, OnlyElevationRequiredLeadsToOneRunasRetry) {
  struct Case {
    const char* what;
    std::vector<DWORD> answers;
    std::vector<std::string> verbs;
    bool started;
  };
  const Case cases[] = {
      {"started at once", {0}, {"open"}, true},
      {"elevation required, then started", {kElevationRequired, 0}, {"open", "runas"}, true},
      {"elevation required, then refused",
       {kElevationRequired, ERROR_CANCELLED},
       {"open", "runas"},
       false},
      {"elevation required twice",
       {kElevationRequired, kElevationRequired},
       {"open", "runas"},
       false},
      {"access denied", {ERROR_ACCESS_DENIED}, {"open"}, false},
      {"not a program", {ERROR_BAD_EXE_FORMAT}, {"open"}, false},
      {"user cancelled", {ERROR_CANCELLED}, {"open"}, false},
  };
  const std::string path = "C:\\users\\me\\tavrin\\brenlo\\dex1F.tmp-middleware.exe";
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    g_calls.clear();
    g_answers = c.answers;
    UniqueKernelHandle event(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    g_startedProcess = event.Get();

    UniqueKernelHandle process;
    EXPECT_EQ(LaunchInstaller(path, process, &FakeExecute), c.started);

    std::vector<std::string> verbs;
    for (const Call& call : g_calls) {
      verbs.push_back(call.verb);
      EXPECT_EQ(call.file, path);
      EXPECT_EQ(call.parameters, "");
      EXPECT_EQ(call.show, SW_SHOW);
      // The process handle is asked for; the platform's error boxes are not.
      EXPECT_EQ(call.mask, static_cast<ULONG>(SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI));
    }
    EXPECT_EQ(verbs, c.verbs);
    // A started installer's process is handed over to be waited for.
    EXPECT_EQ(process.Get(), c.started ? event.Get() : nullptr);
    if (c.started) process.Release();  // the event's owner closes it
  }
}

// The Wine rig itself: a crashing program must end with its exception code,
// at once, instead of waiting in a crash debugger or a dialog.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>

#include "tests/support/run_raw.h"

namespace {

bool g_crashMode = false;

TEST(WineRig, CrashEndsAsTheExceptionCodeWithoutADebugger) {
  const DWORD start = GetTickCount();
  const RunResult run = RunRaw(L"\"" + PathBesideMe(L"rig_test.exe") + L"\" --crash", 20000);
  ASSERT_TRUE(run.started) << run.error;
  EXPECT_TRUE(run.finished) << "the crashed process did not end by itself";
  EXPECT_EQ(static_cast<DWORD>(EXCEPTION_ACCESS_VIOLATION), run.exitCode);
  // No backtrace or dialog kept it alive: a plain start costs about a second.
  EXPECT_LT(GetTickCount() - start, 10000u);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc > 1 && std::wcscmp(argv[1], L"--crash") == 0) g_crashMode = true;
  if (g_crashMode) {
    volatile int* nowhere = nullptr;
    *nowhere = 1;
  }
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}

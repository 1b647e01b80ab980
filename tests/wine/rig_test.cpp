// The Wine rig itself: a crashing program must end with its exception code,
// at once, instead of waiting in a crash debugger or a dialog; a fault the
// program handles reaches it as the processor reported it (under qemu-i386
// emulation that takes tests/wine/trap_number_preload.c).
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

// What the vectored handler saw of the faults it handled.
struct Fault {
  DWORD code = 0;
  ULONG_PTR writing = 0;
  ULONG_PTR address = 0;
};
Fault g_fault;
void* g_page = nullptr;

LONG CALLBACK MakePageWritable(EXCEPTION_POINTERS* pointers) {
  const EXCEPTION_RECORD* record = pointers->ExceptionRecord;
  g_fault.code = record->ExceptionCode;
  if (record->ExceptionCode == EXCEPTION_ACCESS_VIOLATION && record->NumberParameters >= 2) {
    g_fault.writing = record->ExceptionInformation[0];
    g_fault.address = record->ExceptionInformation[1];
    DWORD old = 0;
    if (VirtualProtect(g_page, 4096, PAGE_READWRITE, &old)) return EXCEPTION_CONTINUE_EXECUTION;
  }
  // A guard page is a guard once: the read is simply retried.
  if (record->ExceptionCode == STATUS_GUARD_PAGE_VIOLATION) return EXCEPTION_CONTINUE_EXECUTION;
  return EXCEPTION_CONTINUE_SEARCH;
}

TEST(WineRig, AHandledFaultIsReportedAsTheProcessorSawItAndExecutionGoesOn) {
  g_page = VirtualAlloc(nullptr, 4096, MEM_COMMIT | MEM_RESERVE, PAGE_NOACCESS);
  ASSERT_NE(nullptr, g_page);
  void* handler = AddVectoredExceptionHandler(1, MakePageWritable);
  ASSERT_NE(nullptr, handler);
  volatile int* value = static_cast<volatile int*>(g_page) + 3;

  *value = 42;
  EXPECT_EQ(static_cast<DWORD>(EXCEPTION_ACCESS_VIOLATION), g_fault.code);
  EXPECT_EQ(1u, g_fault.writing);
  EXPECT_EQ(reinterpret_cast<ULONG_PTR>(value), g_fault.address);
  EXPECT_EQ(42, *value);

  g_fault = {};
  DWORD old = 0;
  ASSERT_TRUE(VirtualProtect(g_page, 4096, PAGE_READWRITE | PAGE_GUARD, &old));
  EXPECT_EQ(42, *value);
  EXPECT_EQ(static_cast<DWORD>(STATUS_GUARD_PAGE_VIOLATION), g_fault.code);

  RemoveVectoredExceptionHandler(handler);
  VirtualFree(g_page, 0, MEM_RELEASE);
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

// The built program, started from raw command lines: its exit codes, the
// registry it leaves and the messages it broadcasts.
#include <gtest/gtest.h>

#include <vector>

#include "platform/unique_handle.h"
#include "tests/support/registry.h"
#include "tests/support/run_raw.h"

namespace {

constexpr DWORD kBadCommandLine = 0xFFFFFFFEu;  // -2
constexpr DWORD kAlreadyRunning = 0xFFFFFFFDu;  // -3
constexpr DWORD kDialogEnded = 1;
constexpr DWORD kUpdatesDisabled = 0;

const wchar_t kNormalTail[] = L"\"\" \"http://127.0.0.1:9/check\" \"1\"";
// For the forced starts that reach the dialog: a URL that cannot be split
// ends the run at once, where a failed forced check would show its no-update
// view and wait for the user.
const wchar_t kUnsplittableTail[] = L"\"\" \"updates/check\" \"1\"";

class EntryTest : public ::testing::Test {
 protected:
  void SetUp() override { ResetProgramState(); }
  void TearDown() override { ResetProgramState(); }
};

DWORD ExitCodeOf(const std::wstring& tail) {
  const RunResult run = RunRaw(ProgramCommand(tail));
  EXPECT_TRUE(run.started) << "error " << run.error;
  EXPECT_TRUE(run.finished);
  return run.exitCode;
}

// A schedule that a reset would visibly change.
void StorePendingReminder() {
  SetDword(Hive::User, kSettingsKey, "delaymode", 3);
  SetQword(Hive::User, kSettingsKey, "lasttime", 1000);
  SetString(Hive::User, kRunKey, "tavrin-brenlo", "\"x\" \"\" \"u\" \"1\"");
}

// A hidden top-level window of this process that collects the registered
// messages another process broadcasts.
class BroadcastReceiver {
 public:
  BroadcastReceiver() {
    WNDCLASSW windowClass = {};
    windowClass.lpfnWndProc = ::DefWindowProcW;
    windowClass.hInstance = ::GetModuleHandleW(nullptr);
    windowClass.lpszClassName = L"tavrin.test.broadcast";
    ::RegisterClassW(&windowClass);
    m_hWnd = ::CreateWindowExW(0, windowClass.lpszClassName, L"", WS_OVERLAPPED, 0, 0, 10, 10,
                               nullptr, nullptr, windowClass.hInstance, nullptr);
  }
  ~BroadcastReceiver() { ::DestroyWindow(m_hWnd); }

  HWND Window() const { return m_hWnd; }

  // The messages in [first, last] waiting in the queue, in arrival order.
  std::vector<UINT> Collect(UINT first, UINT last) {
    std::vector<UINT> seen;
    MSG message;
    while (::PeekMessageW(&message, m_hWnd, first, last, PM_REMOVE))
      seen.push_back(message.message);
    return seen;
  }

 private:
  HWND m_hWnd = nullptr;
};

// Stands in for a running copy: holds the instance mutex on a thread of its
// own and lets go of it when the exit message reaches its window.
class RunningCopy {
 public:
  RunningCopy() : m_ready(::CreateEventW(nullptr, TRUE, FALSE, nullptr)) {
    m_thread.Reset(::CreateThread(nullptr, 0, &Run, this, 0, &m_threadId));
    if (m_thread) ::WaitForSingleObject(m_ready.Get(), 10000);
  }
  ~RunningCopy() {
    ::PostThreadMessageW(m_threadId, WM_QUIT, 0, 0);
    ::WaitForSingleObject(m_thread.Get(), 10000);
  }

  bool Holding() const { return m_holding; }
  bool LetGo() const { return ::WaitForSingleObject(m_thread.Get(), 0) == WAIT_OBJECT_0; }

 private:
  static DWORD WINAPI Run(void* parameter) {
    auto* self = static_cast<RunningCopy*>(parameter);
    const UINT exit = ::RegisterWindowMessageA("WM_TAVRIN_BRENLO_EXIT");
    UniqueKernelHandle mutex(::CreateMutexW(nullptr, FALSE, L"TAVRIN-BRENLO_MUTEX"));
    const bool created = mutex && ::GetLastError() != ERROR_ALREADY_EXISTS;
    BroadcastReceiver receiver;
    self->m_holding = created && receiver.Window();
    ::SetEvent(self->m_ready.Get());
    MSG message;
    while (::GetMessageW(&message, nullptr, 0, 0) > 0) {
      if (message.message == exit) return 0;
    }
    return 1;
  }

  UniqueKernelHandle m_ready;
  UniqueKernelHandle m_thread;
  DWORD m_threadId = 0;
  bool m_holding = false;
};

}  // namespace

using EntryRefusalTest = EntryTest;
using QuietStartTest = EntryTest;
using ForcedCheckTest = EntryTest;

TEST_F(EntryRefusalTest, FewerThanTwoPositionalsEndWithMinusTwo) {
  EXPECT_EQ(ExitCodeOf(L""), kBadCommandLine);
  EXPECT_EQ(ExitCodeOf(L"\"\""), kBadCommandLine);
  EXPECT_EQ(ExitCodeOf(L"/x \"\""), kBadCommandLine);
  // The option after the URL takes the URL's place: still only two.
  EXPECT_EQ(ExitCodeOf(L"\"\" /x"), kBadCommandLine);
}

TEST_F(EntryRefusalTest, SecondStartWhileTheMutexExistsEndsWithMinusThree) {
  HANDLE mutex = ::CreateMutexW(nullptr, FALSE, L"TAVRIN-BRENLO_MUTEX");
  ASSERT_NE(mutex, nullptr);
  EXPECT_EQ(ExitCodeOf(kNormalTail), kAlreadyRunning);
  // Too few positionals are refused before the mutex is looked at.
  EXPECT_EQ(ExitCodeOf(L"\"\""), kBadCommandLine);
  ::CloseHandle(mutex);
  EXPECT_EQ(ExitCodeOf(kNormalTail), kDialogEnded);
}

TEST_F(EntryTest, NormalStartReachesTheDialogAndEndsWithOne) {
  EXPECT_EQ(ExitCodeOf(kNormalTail), kDialogEnded);
  EXPECT_EQ(ExitCodeOf(L"\"\" http://127.0.0.1:9/check"), kDialogEnded);
  // An unrecognised option right after the path changes nothing.
  EXPECT_EQ(ExitCodeOf(std::wstring(L"/F ") + kNormalTail), kDialogEnded);
  // A plain start leaves the schedule alone.
  EXPECT_FALSE(ReadValue(Hive::User, kSettingsKey, "lasttime").has_value());
}

TEST_F(QuietStartTest, EndsWithZeroWhenTheUserSwitchedUpdatesOff) {
  SetDword(Hive::User, kSettingsKey, "md_cu_disable", 1);
  EXPECT_EQ(ExitCodeOf(std::wstring(L"/p ") + kNormalTail), kUpdatesDisabled);
  // Without /p the switch means nothing here.
  EXPECT_EQ(ExitCodeOf(kNormalTail), kDialogEnded);
  // Ends before the command line is checked for its positionals.
  EXPECT_EQ(ExitCodeOf(L"/p"), kUpdatesDisabled);
}

TEST_F(QuietStartTest, UsersZeroOverridesTheMachinesOne) {
  SetDword(Hive::User, kSettingsKey, "md_cu_disable", 0);
  SetDword(Hive::Machine, kSettingsKey, "md_cu_disable", 1);
  EXPECT_EQ(ExitCodeOf(std::wstring(L"/p ") + kNormalTail), kDialogEnded);
}

TEST_F(QuietStartTest, MachinesOneCountsWhenTheUserHasNoValue) {
  SetDword(Hive::Machine, kSettingsKey, "md_cu_disable", 1);
  EXPECT_EQ(ExitCodeOf(std::wstring(L"/p ") + kNormalTail), kUpdatesDisabled);
}

TEST_F(QuietStartTest, StoredTypeIsNotChecked) {
  // Text "0" is the bytes 0x30 0x00: nonzero, so set.
  SetString(Hive::User, kSettingsKey, "md_cu_disable", "0");
  EXPECT_EQ(ExitCodeOf(std::wstring(L"/p ") + kNormalTail), kUpdatesDisabled);

  // Eight bytes do not fit the 4-byte read: absent, so the start goes on.
  SetQword(Hive::User, kSettingsKey, "md_cu_disable", 1);
  EXPECT_EQ(ExitCodeOf(std::wstring(L"/p ") + kNormalTail), kDialogEnded);
}

TEST_F(QuietStartTest, SuppressesTheForcedCheck) {
  SetDword(Hive::User, kSettingsKey, "md_cu_disable", 1);
  StorePendingReminder();
  EXPECT_EQ(ExitCodeOf(std::wstring(L"/f /p ") + kNormalTail), kUpdatesDisabled);
  const auto mode = ReadValue(Hive::User, kSettingsKey, "delaymode");
  const auto time = ReadValue(Hive::User, kSettingsKey, "lasttime");
  const auto disabled = ReadValue(Hive::User, kSettingsKey, "md_cu_disable");
  ASSERT_TRUE(mode && time && disabled);
  EXPECT_EQ(mode->AsDword(), 3u);
  EXPECT_EQ(time->AsQword(), 1000u);
  EXPECT_EQ(disabled->AsDword(), 1u);
  EXPECT_TRUE(ReadValue(Hive::User, kRunKey, "tavrin-brenlo").has_value());
}

TEST_F(ForcedCheckTest, AloneResetsTheScheduleWaitsAndEndsWithMinusTwo) {
  SetDword(Hive::User, kSettingsKey, "md_cu_disable", 1);
  StorePendingReminder();

  const ULONGLONG started = ::GetTickCount64();
  EXPECT_EQ(ExitCodeOf(L"/f"), kBadCommandLine);
  // The one-second grace for a running copy to let go of the mutex.
  EXPECT_GE(::GetTickCount64() - started, 900u);

  const auto mode = ReadValue(Hive::User, kSettingsKey, "delaymode");
  ASSERT_TRUE(mode.has_value());
  EXPECT_EQ(mode->type, static_cast<DWORD>(REG_DWORD));
  EXPECT_EQ(mode->AsDword(), 0u);
  const auto time = ReadValue(Hive::User, kSettingsKey, "lasttime");
  ASSERT_TRUE(time.has_value());
  EXPECT_EQ(time->type, static_cast<DWORD>(REG_QWORD));
  EXPECT_GE(static_cast<int64_t>(*time->AsQword()), UnixNow() - 30);
  const auto disabled = ReadValue(Hive::User, kSettingsKey, "md_cu_disable");
  ASSERT_TRUE(disabled.has_value());
  EXPECT_EQ(disabled->type, static_cast<DWORD>(REG_DWORD));
  EXPECT_EQ(disabled->AsDword(), 0u);
  EXPECT_FALSE(ReadValue(Hive::User, kRunKey, "tavrin-brenlo").has_value());
}

TEST_F(ForcedCheckTest, WaitsForARunningCopyToQuitBeforeTakingTheMutex) {
  RunningCopy copy;
  ASSERT_TRUE(copy.Holding());
  EXPECT_EQ(ExitCodeOf(kNormalTail), kAlreadyRunning);
  // The copy lets go on the exit message; the second of grace comes before
  // this start asks for the mutex.
  EXPECT_EQ(ExitCodeOf(std::wstring(L"/f ") + kUnsplittableTail), kDialogEnded);
  EXPECT_TRUE(copy.LetGo());
}

TEST_F(ForcedCheckTest, BroadcastsUpdateNowThenExit) {
  const UINT updateNow = ::RegisterWindowMessageA("WM_TAVRIN_BRENLO_UPDATE_NOW");
  const UINT exit = ::RegisterWindowMessageA("WM_TAVRIN_BRENLO_EXIT");
  ASSERT_NE(updateNow, 0u);
  ASSERT_NE(exit, 0u);
  BroadcastReceiver receiver;
  ASSERT_NE(receiver.Window(), nullptr);

  // Posted, not sent: they wait in this thread's queue while it waits for
  // the program.
  EXPECT_EQ(ExitCodeOf(std::wstring(L"/f ") + kUnsplittableTail), kDialogEnded);

  const std::vector<UINT> seen = receiver.Collect(0xC000, 0xFFFF);
  EXPECT_EQ(seen, (std::vector<UINT>{updateNow, exit}));
}

int wmain(int argc, wchar_t** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}

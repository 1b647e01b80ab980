// "Later" and what follows it, with the built program as a black box against
// the test servers: the reminder menu chosen through the real menu, the copy
// it installs and starts, the registry it records, the waiting copy's ticks
// and the two messages that other copies send.
#include <windows.h>

#include <gtest/gtest.h>
#include <shellapi.h>
#include <shlobj.h>

#include <algorithm>
#include <cwchar>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "resources/resource.h"
#include "tests/http/test_server_client.h"
#include "tests/resources/expected_texts.h"
#include "tests/support/registry.h"
#include "tests/support/run_raw.h"
#include "tests/support/ui_driver.h"
#include "workflow/autostart_command.h"

namespace {

constexpr DWORD kRunMs = 30000;
constexpr DWORD kSeenMs = 20000;
constexpr int64_t kDay = 86400;

const UINT g_updateNow = ::RegisterWindowMessageA("WM_TAVRIN_BRENLO_UPDATE_NOW");
const UINT g_exit = ::RegisterWindowMessageA("WM_TAVRIN_BRENLO_EXIT");

std::wstring Wide(const std::string& ascii) { return std::wstring(ascii.begin(), ascii.end()); }

std::string InstalledCopyA() {
  char folder[MAX_PATH] = {};
  SHGetSpecialFolderPathA(nullptr, folder, CSIDL_APPDATA, FALSE);
  return std::string(folder) + "\\tavrin\\brenlo\\tavrin-corvel.exe";
}
std::wstring InstalledCopy() {
  wchar_t folder[MAX_PATH] = {};
  SHGetSpecialFolderPathW(nullptr, folder, CSIDL_APPDATA, FALSE);
  return std::wstring(folder) + L"\\tavrin\\brenlo\\tavrin-corvel.exe";
}

std::wstring ImageOf(DWORD processId) {
  HANDLE process = ::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId);
  if (!process) return L"";
  wchar_t path[MAX_PATH * 2] = {};
  DWORD size = MAX_PATH * 2;
  const BOOL read = ::QueryFullProcessImageNameW(process, 0, path, &size);
  ::CloseHandle(process);
  return read ? path : L"";
}

// A process of the program found through its dialog, not started by the
// test; killed when the test leaves it running.
class FoundProcess {
 public:
  explicit FoundProcess(DWORD id)
      : m_handle(::OpenProcess(SYNCHRONIZE | PROCESS_TERMINATE, FALSE, id)) {}
  ~FoundProcess() {
    if (!m_handle) return;
    if (::WaitForSingleObject(m_handle, 0) == WAIT_TIMEOUT) ::TerminateProcess(m_handle, 0xDEAD);
    ::CloseHandle(m_handle);
  }
  FoundProcess(const FoundProcess&) = delete;
  FoundProcess& operator=(const FoundProcess&) = delete;

  bool Ended(DWORD timeoutMs) const {
    return ::WaitForSingleObject(m_handle, timeoutMs) == WAIT_OBJECT_0;
  }

 private:
  HANDLE m_handle;
};

struct WindowSearch {
  const wchar_t* className;
  DWORD processId;    // 0: any process
  DWORD skipProcess;  // never this one
  HWND found;
};

BOOL CALLBACK MatchWindow(HWND window, LPARAM parameter) {
  auto* search = reinterpret_cast<WindowSearch*>(parameter);
  DWORD owner = 0;
  ::GetWindowThreadProcessId(window, &owner);
  if ((search->processId && owner != search->processId) || owner == search->skipProcess ||
      owner == ::GetCurrentProcessId())
    return TRUE;
  wchar_t className[16] = {};
  ::GetClassNameW(window, className, 16);
  if (std::wcscmp(className, search->className) != 0) return TRUE;
  if (std::wcscmp(search->className, L"#32768") == 0 && !::IsWindowVisible(window)) return TRUE;
  search->found = window;
  return FALSE;
}

HWND FindWindowOf(const wchar_t* className, DWORD processId, DWORD skipProcess = 0) {
  WindowSearch search = {className, processId, skipProcess, nullptr};
  ::EnumWindows(&MatchWindow, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

// The program's process, other than `skip`, that runs `image`, found by its
// dialog; 0 when none shows up within `timeoutMs`.
DWORD WaitForProcessOf(const std::wstring& image, DWORD skip, DWORD timeoutMs) {
  DWORD found = 0;
  WaitUntil(
      [&] {
        HWND dialog = FindWindowOf(L"#32770", 0, skip);
        if (!dialog) return false;
        DWORD id = 0;
        ::GetWindowThreadProcessId(dialog, &id);
        if (_wcsicmp(ImageOf(id).c_str(), image.c_str()) != 0) return false;
        found = id;
        return true;
      },
      timeoutMs);
  return found;
}

// `command` split as the platform splits a command line.
std::vector<std::string> Split(const std::string& command) {
  int count = 0;
  LPWSTR* args = ::CommandLineToArgvW(Wide(command).c_str(), &count);
  std::vector<std::string> fields;
  for (int i = 0; args && i < count; ++i) fields.push_back(Utf8(args[i]));
  ::LocalFree(args);
  return fields;
}

// Chooses item `index` of the popup menu that process `processId` shows, with
// the keys a user would press.
void ChooseMenuItem(HWND menu, int index) {
  for (int i = 0; i <= index; ++i) ::PostMessageW(menu, WM_KEYDOWN, VK_DOWN, 0);
  ::PostMessageW(menu, WM_KEYDOWN, VK_RETURN, 0);
}

// Sends `message` and returns once the dialog has handled it.
void Deliver(HWND dialog, UINT message, WPARAM wParam = 0) {
  DWORD_PTR result = 0;
  ASSERT_TRUE(::SendMessageTimeoutW(dialog, message, wParam, 0, SMTO_ABORTIFHUNG, 10000, &result))
      << "the dialog did not answer";
}

struct Schedule {
  std::optional<uint32_t> delayMode, disabled;
  std::optional<int64_t> lastTime;
  std::optional<std::string> runValue;
};

Schedule ReadSchedule() {
  Schedule schedule;
  if (auto value = ReadValue(Hive::User, kSettingsKey, "delaymode")) {
    EXPECT_EQ(value->type, static_cast<DWORD>(REG_DWORD));
    schedule.delayMode = value->AsDword();
  }
  if (auto value = ReadValue(Hive::User, kSettingsKey, "lasttime")) {
    EXPECT_EQ(value->type, static_cast<DWORD>(REG_QWORD));
    if (auto q = value->AsQword()) schedule.lastTime = static_cast<int64_t>(*q);
  }
  if (auto value = ReadValue(Hive::User, kSettingsKey, "md_cu_disable")) {
    EXPECT_EQ(value->type, static_cast<DWORD>(REG_DWORD));
    schedule.disabled = value->AsDword();
  }
  if (auto value = ReadValue(Hive::User, kRunKey, "tavrin-brenlo")) {
    EXPECT_EQ(value->type, static_cast<DWORD>(REG_SZ));
    schedule.runValue = value->AsString();
  }
  return schedule;
}

// The state a reset leaves: no reminder dated now, offers on, no autostart.
void ExpectReset(const Schedule& schedule, int64_t before) {
  EXPECT_EQ(schedule.delayMode, 0u);
  ASSERT_TRUE(schedule.lastTime.has_value());
  EXPECT_GE(*schedule.lastTime, before);
  EXPECT_LE(*schedule.lastTime, UnixNow());
  EXPECT_EQ(schedule.disabled, 0u);
  EXPECT_FALSE(schedule.runValue.has_value());
}

class ReminderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetProgramState();
    ResetTestServers();
    SetDword(Hive::Machine, kLanguageKey, "force_lcid", 0x0409);
  }
  void TearDown() override {
    m_process.reset();
    ResetProgramState();
  }

  void Start(const std::wstring& program, const std::string& url, const char* pin,
             const std::vector<std::wstring>& environment = {}, const std::string& options = "") {
    const std::wstring command = L"\"" + program + L"\" " + Wide(options) + L"\"\" " +
                                 Wide(QuoteArgument(url)) + L" \"" + Wide(pin) + L"\"";
    m_process = std::make_unique<RawProcess>(command, environment);
    ASSERT_TRUE(m_process->Started()) << "error " << m_process->Error();
  }

  // A copy waiting for a reminder: hidden, its timer running, no request made.
  HWND StartWaitingCopy(uint32_t mode, int64_t lastTime,
                        const std::vector<std::wstring>& environment = {},
                        const std::string& url = Http("/check"), const char* pin = "0") {
    SetDword(Hive::User, kSettingsKey, "delaymode", mode);
    SetQword(Hive::User, kSettingsKey, "lasttime", static_cast<uint64_t>(lastTime));
    SetDword(Hive::User, kSettingsKey, "md_cu_disable", 1);
    SetString(Hive::User, kRunKey, "tavrin-brenlo", "\"waiting\" \"\" \"u\" \"0\"");
    Start(ProgramPath(), url, pin, environment);
    HWND dialog = nullptr;
    EXPECT_TRUE(WaitUntil([&] { return (dialog = FindProgramDialog(m_process->Id())) != nullptr; },
                          kSeenMs));
    return dialog;
  }

  DWORD ExitCode(DWORD timeoutMs = kRunMs) {
    DWORD code = 0xDEAD;
    EXPECT_TRUE(m_process->Wait(timeoutMs, code)) << "still running";
    return code;
  }

  bool StillRunning(DWORD forMs) {
    DWORD code = 0;
    return !m_process->Wait(forMs, code);
  }

  // The requests of the check path, each as its target (path and query).
  static std::vector<std::string> Checks() {
    std::vector<std::string> targets;
    for (const LoggedRequest& request : TestServerLog()) {
      if (request.target.rfind("/check", 0) == 0) targets.push_back(request.target);
    }
    return targets;
  }
  static size_t ChecksLogged() { return Checks().size(); }

  static std::string Http(const std::string& path) {
    return TestServerUrl("http", "127.0.0.1", TestServerPort("TAVRIN_TEST_HTTP_PORT"), path);
  }
  static std::string Pinned(const std::string& path) {
    return TestServerUrl("https", "127.0.0.1", TestServerPort("TAVRIN_TEST_HTTPS_PINNED_PORT"),
                         path);
  }

  std::unique_ptr<RawProcess> m_process;
};

ScriptedAnswer Redirect(const std::string& location) {
  ScriptedAnswer answer;
  answer.status = 302;
  answer.location = location;
  return answer;
}

ScriptedAnswer NoUpdate() {
  ScriptedAnswer answer;
  answer.status = 204;
  return answer;
}

}  // namespace

// One run per item: the menu opens at the button, the item's choice is
// recorded, the copy is installed, registered and started with the same
// check URL and pin switch (the pinned server answers the copy's check only
// when the pin came through), and the run ends with 1.
TEST_F(ReminderTest, EachMenuItemRecordsItsChoiceAndStartsTheCopy) {
  struct Row {
    int item;
    uint32_t mode;  // 0: "Don't ask again"
    bool pinned;
    const char* query;  // a quote and a trailing backslash must survive the command lines
  };
  for (const Row& row : {Row{0, 1, true, ""}, Row{1, 2, false, "?from=\"later\"\\"},
                         Row{2, 3, true, ""}, Row{3, 0, false, ""}}) {
    SCOPED_TRACE("menu item " + std::to_string(row.item));
    ResetProgramState();
    ResetTestServers();
    ScriptAnswer("/check", Redirect("/installer.exe"));
    const std::string url = (row.pinned ? Pinned("/check") : Http("/check")) + row.query;
    const char* pin = row.pinned ? "1" : "0";
    Start(ProgramPath(), url, pin);
    HWND dialog = WaitForShownDialog(m_process->Id(), kSeenMs);
    ASSERT_TRUE(dialog) << "no offer";

    PressButton(dialog, IDC_LATER_BUTTON);
    HWND menu = nullptr;
    ASSERT_TRUE(
        WaitUntil([&] { return (menu = FindWindowOf(L"#32768", m_process->Id())); }, kSeenMs))
        << "no menu";
    RECT button = {}, shown = {};
    ::GetWindowRect(::GetDlgItem(dialog, IDC_LATER_BUTTON), &button);
    ::GetWindowRect(menu, &shown);
    // The dialog stands in the screen's corner, where a menu wider than the
    // room right of the button is moved left to stay on the screen.
    const int width = shown.right - shown.left;
    EXPECT_EQ(shown.left, std::min<LONG>(button.left, ::GetSystemMetrics(SM_CXSCREEN) - width))
        << "the menu opens at the button's left edge";

    const int64_t before = UnixNow();
    ChooseMenuItem(menu, row.item);
    EXPECT_EQ(ExitCode(), 1u);
    const Schedule schedule = ReadSchedule();
    EXPECT_EQ(schedule.disabled, 1u);

    if (row.mode == 0) {
      EXPECT_FALSE(schedule.delayMode || schedule.lastTime || schedule.runValue);
      EXPECT_EQ(::GetFileAttributesW(InstalledCopy().c_str()), INVALID_FILE_ATTRIBUTES);
      continue;
    }
    EXPECT_EQ(schedule.delayMode, row.mode);
    ASSERT_TRUE(schedule.lastTime.has_value());
    EXPECT_GE(*schedule.lastTime, before);
    EXPECT_LE(*schedule.lastTime, UnixNow());
    ASSERT_TRUE(schedule.runValue.has_value());
    if (*row.query == '\0') {
      EXPECT_EQ(*schedule.runValue,
                "\"" + InstalledCopyA() + "\" \"\" \"" + url + "\" \"" + std::string(pin) + "\"");
    }
    EXPECT_EQ(Split(*schedule.runValue),  // DEBUG

              (std::vector<std::string>{InstalledCopyA(), "", url, pin}))
        << *schedule.runValue;
    EXPECT_EQ(FileBytes(InstalledCopy()), FileBytes(ProgramPath())) << "the copy's bytes";

    const DWORD copyId = WaitForProcessOf(InstalledCopy(), m_process->Id(), kSeenMs);
    ASSERT_NE(copyId, 0u) << "the copy was not started";
    FoundProcess copy(copyId);
    HWND waiting = FindProgramDialog(copyId);
    ASSERT_TRUE(waiting);
    EXPECT_FALSE(::IsWindowVisible(waiting)) << "the copy waits hidden";
    EXPECT_EQ(ChecksLogged(), 1u) << "the copy waits without checking";
    // Asked to check now, the copy asks the same URL with the same pin
    // switch and offers the update again.
    Deliver(waiting, g_updateNow);
    EXPECT_TRUE(WaitForShownDialog(copyId, kSeenMs)) << "the copy did not offer the update";
    const std::vector<std::string> checks = Checks();
    ASSERT_EQ(checks.size(), 2u);
    EXPECT_EQ(checks[1], checks[0]) << "the copy asks another URL";
    ExpectReset(ReadSchedule(), before);
    PostClose(waiting);
    EXPECT_TRUE(copy.Ended(kRunMs));
  }
}

TEST_F(ReminderTest, InstalledCopyPostponesAgainWithoutCopyingOrRegistering) {
  ScriptAnswer("/check", Redirect("/installer.exe"));
  // The installed copy, one byte longer than the program so that a
  // replacement would show, started by a path that differs in letter case.
  std::wstring copy = InstalledCopy();
  ASSERT_EQ(
      ::SHCreateDirectoryExW(nullptr, copy.substr(0, copy.find_last_of(L'\\')).c_str(), nullptr),
      ERROR_SUCCESS);
  const std::string bytes = FileBytes(ProgramPath()) + "x";
  std::ofstream(copy.c_str(), std::ios::binary) << bytes;
  const std::wstring upper = copy.substr(0, copy.size() - 17) + L"TAVRIN-CORVEL.EXE";
  Start(upper, Http("/check"), "1");
  HWND dialog = WaitForShownDialog(m_process->Id(), kSeenMs);
  ASSERT_TRUE(dialog);
  PressButton(dialog, IDC_LATER_BUTTON);
  HWND menu = nullptr;
  ASSERT_TRUE(
      WaitUntil([&] { return (menu = FindWindowOf(L"#32768", m_process->Id())); }, kSeenMs));
  ChooseMenuItem(menu, 1);
  EXPECT_EQ(ExitCode(), 1u);

  const Schedule schedule = ReadSchedule();
  EXPECT_EQ(schedule.delayMode, 2u);
  EXPECT_EQ(schedule.disabled, 1u);
  EXPECT_FALSE(schedule.runValue.has_value()) << "no autostart written by the installed copy";
  EXPECT_EQ(FileBytes(copy), bytes) << "the installed copy was replaced";
  const DWORD again = WaitForProcessOf(copy, m_process->Id(), kSeenMs);
  ASSERT_NE(again, 0u) << "the copy was not started again";
  FoundProcess relaunched(again);
  PostClose(FindProgramDialog(again));
  EXPECT_TRUE(relaunched.Ended(kRunMs));
}

// Ticks forced on one waiting copy that must not fire, then one copy per
// tick that must: it clears the schedule, checks, and (the answer being
// negative and nobody having asked) closes unseen with 1.
TEST_F(ReminderTest, WaitingCopyChecksOnlyWhenItsTickFindsThePostponementOver) {
  ScriptAnswer("/check", NoUpdate());
  const int64_t now = UnixNow();
  HWND dialog = StartWaitingCopy(1, now);
  ASSERT_TRUE(dialog);
  struct Quiet {
    const char* what;
    uint32_t mode;
    int64_t lastTime;
    WPARAM timer;
  };
  for (const Quiet& tick : {Quiet{"a day less half a minute", 1, now - kDay + 30, 100},
                            Quiet{"a week less a minute", 2, now - 7 * kDay + 60, 100},
                            Quiet{"an hour in the future", 3, now + 3600, 100},
                            Quiet{"another timer", 7, now - 40 * kDay, 101}}) {
    SCOPED_TRACE(tick.what);
    SetDword(Hive::User, kSettingsKey, "delaymode", tick.mode);
    SetQword(Hive::User, kSettingsKey, "lasttime", static_cast<uint64_t>(tick.lastTime));
    Deliver(dialog, WM_TIMER, tick.timer);
    const Schedule schedule = ReadSchedule();
    EXPECT_EQ(schedule.delayMode, tick.mode);
    EXPECT_EQ(schedule.lastTime, tick.lastTime);
    EXPECT_EQ(schedule.disabled, 1u);
    EXPECT_TRUE(schedule.runValue.has_value());
  }
  EXPECT_TRUE(StillRunning(0));
  EXPECT_EQ(ChecksLogged(), 0u);
  m_process.reset();

  struct Due {
    const char* what;
    uint32_t mode;
    bool lastTimeKept;
    int64_t lastTime;
  };
  for (const Due& tick :
       {Due{"exactly a day", 1, true, now - kDay}, Due{"an unknown mode", 7, true, now},
        Due{"a mode without its time", 2, false, now}}) {
    SCOPED_TRACE(tick.what);
    ResetTestServers();
    ScriptAnswer("/check", NoUpdate());
    HWND waiting = StartWaitingCopy(tick.mode, now);
    ASSERT_TRUE(waiting);
    if (tick.lastTimeKept) {
      SetQword(Hive::User, kSettingsKey, "lasttime", static_cast<uint64_t>(tick.lastTime));
    } else {
      DeleteValue(Hive::User, kSettingsKey, "lasttime");
    }
    const int64_t before = UnixNow();
    Deliver(waiting, WM_TIMER, 100);
    EXPECT_EQ(ExitCode(), 1u);
    EXPECT_FALSE(::IsWindowVisible(waiting));
    EXPECT_EQ(ChecksLogged(), 1u);
    ExpectReset(ReadSchedule(), before);
  }
}

// A due check that never reaches the server (offline, a server the pin
// refuses, a gateway that cannot reach it, one that never answers) keeps the
// whole reminder, and the copy waits on, hidden; a later tick that reaches
// the server clears the schedule as any answer does. A proxy's 407 keeps the
// reminder too, but ends the copy rather than ask again at every tick.
TEST_F(ReminderTest, DueCheckThatNeverReachesTheServerKeepsTheReminder) {
  const int64_t due = UnixNow() - kDay;
  const std::string late =
      TestServerUrl("http", "127.0.0.1", TestServerPort("TAVRIN_TEST_LATE_PORT"), "/check");
  const std::string impostor =
      TestServerUrl("https", "127.0.0.1", TestServerPort("TAVRIN_TEST_HTTPS_OTHER_PORT"), "/check");
  const auto status = [](int code) {
    ScriptedAnswer answer;
    answer.status = code;
    return answer;
  };
  struct Unreached {
    const char* what;
    std::string url;
    const char* pin;
    bool waits;  // else it ends with 1
  };
  ScriptedAnswer silent;
  silent.stallSeconds = 600;
  const std::string silentTls =
      TestServerUrl("https", "127.0.0.1", TestServerPort("TAVRIN_TEST_SILENT_PORT"), "/check");
  for (const Unreached& c :
       {Unreached{"another certificate, pinned", impostor, "1", true},
        Unreached{"a gateway's 503", Http("/check-503"), "0", true},
        Unreached{"a proxy's 407 that asks nothing", Http("/check-407"), "0", false},
        Unreached{"nothing listening", late, "0", true},
        Unreached{"a server that never answers", Http("/check-silent"), "0", true},
        Unreached{"a TLS server that never answers, pinned", silentTls, "1", true}}) {
    SCOPED_TRACE(c.what);
    ResetTestServers();
    ScriptAnswer("/check", NoUpdate());
    ScriptAnswer("/check-503", status(503));
    ScriptAnswer("/check-407", status(407));
    ScriptAnswer("/check-silent", silent);
    HWND waiting = StartWaitingCopy(1, due, {}, c.url, c.pin);
    ASSERT_TRUE(waiting);
    const Schedule before = ReadSchedule();
    Deliver(waiting, WM_TIMER, 100);
    if (c.url == silentTls) {
      // Not even a handshake: the check is given up at its time limit, the
      // reminder kept, and a later tick connects again.
      ASSERT_TRUE(WaitUntil([] { return SilentConnections() >= 1; }, kSeenMs));
      const unsigned first = SilentConnections();
      EXPECT_TRUE(WaitUntil(
          [&] {
            if (SilentConnections() > first) return true;
            Deliver(waiting, WM_TIMER, 100);
            return false;
          },
          150000))
          << "the silent check was never given up";
      EXPECT_TRUE(StillRunning(0));
      EXPECT_FALSE(::IsWindowVisible(waiting));
      EXPECT_EQ(ReadSchedule().delayMode, 1u);
      EXPECT_EQ(ReadSchedule().lastTime, due);
      m_process.reset();
      continue;
    }
    if (c.url == Http("/check-silent")) {
      // The check gives up on its own (ticks meanwhile start no second
      // one), keeps the reminder, and a later tick is offered the update.
      ASSERT_TRUE(WaitUntil([] { return TestServerLog().size() == 1; }, kSeenMs));
      ScriptAnswer("/check-silent", Redirect("/installer.exe"));
      EXPECT_TRUE(WaitUntil(
          [&] {
            // Read first: the schedule is cleared only after a second check.
            const bool kept = ReadSchedule().delayMode == 1u;
            if (ChecksLogged() > 1) return true;
            EXPECT_TRUE(kept) << "cleared before any answer";
            Deliver(waiting, WM_TIMER, 100);
            return false;
          },
          90000))
          << "the silent check was never given up";
      EXPECT_TRUE(WaitForShownDialog(m_process->Id(), kSeenMs)) << "no offer";
      EXPECT_EQ(ChecksLogged(), 2u);
      ExpectReset(ReadSchedule(), UnixNow() - 120);
      PostClose(waiting);
      EXPECT_EQ(ExitCode(), 1u);
      continue;
    }
    if (c.url != late) {
      EXPECT_TRUE(WaitUntil([] { return TestServerLog().size() == 1; }, kSeenMs)) << "not asked";
    }
    if (c.waits) {
      EXPECT_TRUE(StillRunning(3000));
    } else {
      EXPECT_EQ(ExitCode(), 1u);
    }
    EXPECT_FALSE(::IsWindowVisible(waiting));
    const Schedule kept = ReadSchedule();
    EXPECT_EQ(kept.delayMode, 1u);
    EXPECT_EQ(kept.lastTime, due);
    EXPECT_EQ(kept.disabled, 1u);
    EXPECT_EQ(kept.runValue, before.runValue);
    if (c.url != late) {
      EXPECT_EQ(TestServerLog().size(), 1u) << "asked once";
      m_process.reset();
      continue;
    }
    // The server is back: the next tick reaches it, and its answer (no
    // update) clears the schedule and ends the copy.
    OpenLateListener();
    const int64_t reached = UnixNow();
    Deliver(waiting, WM_TIMER, 100);
    EXPECT_EQ(ExitCode(), 1u);
    EXPECT_EQ(ChecksLogged(), 1u);
    ExpectReset(ReadSchedule(), reached);
  }
}

// Asked to check now while a due check still waits for its answer: the
// reminder stays until that answer comes, which is then shown at once.
TEST_F(ReminderTest, CheckNowWhileADueCheckWaitsKeepsTheReminderUntilTheAnswer) {
  ScriptedAnswer slow = NoUpdate();
  slow.stallSeconds = 4;
  ScriptAnswer("/check", slow);
  HWND waiting = StartWaitingCopy(1, UnixNow() - kDay);
  ASSERT_TRUE(waiting);
  Deliver(waiting, WM_TIMER, 100);
  ASSERT_TRUE(WaitUntil([] { return ChecksLogged() == 1; }, kSeenMs));
  Deliver(waiting, g_updateNow);
  EXPECT_EQ(ReadSchedule().delayMode, 1u) << "cleared before any answer";
  const int64_t before = UnixNow();
  ASSERT_TRUE(WaitForShownDialog(m_process->Id(), kSeenMs));
  EXPECT_EQ(Utf8(ControlText(waiting, IDC_MESSAGE_TEXT)), "No software update is required");
  ExpectReset(ReadSchedule(), before - 10);
  EXPECT_EQ(ChecksLogged(), 1u);
  PostClose(waiting);
  EXPECT_EQ(ExitCode(), 1u);
}

TEST_F(ReminderTest, MessagesToAWaitingCopy) {
  ScriptAnswer("/check", NoUpdate());
  // Asked to check now, it shows even a negative answer; asked to quit, it
  // quits.
  const int64_t before = UnixNow();
  HWND dialog = StartWaitingCopy(3, before);
  ASSERT_TRUE(dialog);
  ::PostMessageW(dialog, g_updateNow, 0, 0);
  ASSERT_TRUE(WaitForShownDialog(m_process->Id(), kSeenMs));
  EXPECT_EQ(Utf8(ControlText(dialog, IDC_MESSAGE_TEXT)), "No software update is required");
  EXPECT_TRUE(ControlShown(dialog, IDC_CLOSE_BUTTON));
  EXPECT_FALSE(ControlShown(dialog, IDC_YES_BUTTON) || ControlShown(dialog, IDC_LATER_BUTTON));
  ExpectReset(ReadSchedule(), before);
  ::PostMessageW(dialog, g_exit, 0, 0);
  EXPECT_EQ(ExitCode(), 1u);
  EXPECT_EQ(ChecksLogged(), 1u);

  // With IS_TAVRIN_AUTOIMPORTER set, whatever its value, it stays.
  dialog = StartWaitingCopy(3, UnixNow(), {L"IS_TAVRIN_AUTOIMPORTER=0"});
  ASSERT_TRUE(dialog);
  Deliver(dialog, g_exit);
  EXPECT_TRUE(StillRunning(1000));
  EXPECT_EQ(ReadSchedule().delayMode, 3u) << "no installer runs: the schedule stays";
  PostClose(dialog);
  EXPECT_EQ(ExitCode(), 1u);
}

// The installer the program waits for may never report back: asked to quit
// then, the program clears the schedule and ends at once, leaving the
// installer running.
TEST_F(ReminderTest, ExitRequestWhileTheInstallerRunsClearsTheSchedule) {
  ScriptedAnswer installer;
  installer.body = FileBytes(PathBesideMe(L"fake_installer.exe"));
  ScriptAnswer("/check", installer);
  SetDword(Hive::User, kSettingsKey, "md_cu_disable", 1);
  SetString(Hive::User, kRunKey, "tavrin-brenlo", "\"x\" \"\" \"u\" \"0\"");
  wchar_t folder[MAX_PATH] = {}, log[MAX_PATH] = {};
  ::GetTempPathW(MAX_PATH, folder);
  ::GetTempFileNameW(folder, L"ins", 0, log);
  ::DeleteFileW(log);
  const int64_t before = UnixNow();
  Start(
      ProgramPath(), Http("/check"), "0",
      {std::wstring(L"TAVRIN_TEST_INSTALLER_LOG=") + log, L"TAVRIN_TEST_INSTALLER_HOLD_MS=20000"});
  ASSERT_TRUE(WaitUntil([&] { return !FileBytes(log).empty(); }, kSeenMs)) << "no installer";
  HWND dialog = FindProgramDialog(m_process->Id());
  ASSERT_TRUE(dialog);
  ::PostMessageW(dialog, g_exit, 0, 0);
  EXPECT_EQ(ExitCode(10000), 1u) << "it waited for the installer";
  ExpectReset(ReadSchedule(), before);
  ::DeleteFileW(log);
}

TEST_F(ReminderTest, ForcedStartClosesAWaitingCopyAndGoesOn) {
  ScriptAnswer("/check", NoUpdate());
  ASSERT_TRUE(StartWaitingCopy(2, UnixNow()));
  std::unique_ptr<RawProcess> waiting = std::move(m_process);

  Start(ProgramPath(), Http("/check"), "0", {}, "/f ");
  DWORD code = 0xDEAD;
  EXPECT_TRUE(waiting->Wait(kRunMs, code)) << "the waiting copy did not close";
  EXPECT_EQ(code, 1u);
  HWND dialog = WaitForShownDialog(m_process->Id(), kSeenMs);
  ASSERT_TRUE(dialog) << "the forced start did not go on";
  EXPECT_TRUE(WaitUntil(
      [&] {
        return Utf8(ControlText(dialog, IDC_MESSAGE_TEXT)) == "No software update is required";
      },
      kSeenMs));
  PostClose(dialog);
  EXPECT_EQ(ExitCode(), 1u);
}

// The roaming application data named outside the ANSI code page: the Run
// value names the real copy, wide, and the copy starts there with the same
// URL. Then a file stands where the copy's folder should be: the copy cannot
// be made, its start fails without an error box, and the run ends at once
// with the postponement recorded.
TEST_F(ReminderTest, AppDataOutsideTheCodePageAndACopyThatCannotBeMade) {
  const std::wstring appData = L"C:\\appdata-\u0151 Ji\u0159\u00ED";
  DeleteFolderTree(appData);
  ASSERT_TRUE(::CreateDirectoryW(appData.c_str(), nullptr));
  {
    const ScopedStringValue moved(
        Hive::User, L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders",
        L"AppData", REG_EXPAND_SZ, appData);
    const std::wstring copy = appData + L"\\tavrin\\brenlo\\tavrin-corvel.exe";
    ASSERT_EQ(Utf8(InstalledCopy()), Utf8(copy)) << "the folder did not move";
    const std::string url = Http("/check");
    const auto postpone = [&] {
      Start(ProgramPath(), url, "1");
      HWND dialog = WaitForShownDialog(m_process->Id(), kSeenMs);
      ASSERT_TRUE(dialog) << "no offer";
      PressButton(dialog, IDC_LATER_BUTTON);
      HWND menu = nullptr;
      ASSERT_TRUE(
          WaitUntil([&] { return (menu = FindWindowOf(L"#32768", m_process->Id())); }, kSeenMs));
      ChooseMenuItem(menu, 0);
      EXPECT_EQ(ExitCode(5000), 1u);
      EXPECT_EQ(ReadSchedule().delayMode, 1u);
    };

    ScriptAnswer("/check", Redirect("/installer.exe"));
    postpone();
    EXPECT_EQ(Utf8(ReadStringW(Hive::User, L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run",
                               L"tavrin-brenlo")
                       .value_or(L"<none>")),
              Utf8(L"\"" + copy + L"\" \"\" \"" + Wide(url) + L"\" \"1\""));
    const DWORD copyId = WaitForProcessOf(copy, m_process->Id(), kSeenMs);
    ASSERT_NE(copyId, 0u) << "the copy was not started";
    FoundProcess running(copyId);
    HWND waiting = FindProgramDialog(copyId);
    ASSERT_TRUE(waiting);
    Deliver(waiting, g_updateNow);
    EXPECT_TRUE(WaitForShownDialog(copyId, kSeenMs)) << "the copy did not offer the update";
    const std::vector<std::string> checks = Checks();
    ASSERT_EQ(checks.size(), 2u);
    EXPECT_EQ(checks[1], checks[0]) << "the copy asks another URL";
    PostClose(waiting);
    EXPECT_TRUE(running.Ended(kRunMs));

    ResetProgramState();
    ResetTestServers();
    ScriptAnswer("/check", Redirect("/installer.exe"));
    std::ofstream((appData + L"\\tavrin").c_str()) << "a file, not a folder";
    postpone();
    EXPECT_EQ(::GetFileAttributesW(copy.c_str()), INVALID_FILE_ATTRIBUTES);
  }
  DeleteFolderTree(appData);
}

int wmain(int argc, wchar_t** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}

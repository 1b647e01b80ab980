// The program as a black box against the test servers: what it asks, what
// its dialog shows and does when pressed, which installer it starts, what it
// leaves on disk, and its exit code. Each run checks all of these at once;
// the cases are tables of server answers.
#include <gtest/gtest.h>
#include <oleacc.h>
#include <shlobj.h>

#include <algorithm>
#include <fstream>
#include <functional>
#include <memory>
#include <optional>
#include <regex>
#include <string>
#include <vector>

#include "platform/unique_handle.h"
#include "resources/resource.h"
#include "tests/http/test_server_client.h"
#include "tests/resources/expected_texts.h"
#include "tests/support/registry.h"
#include "tests/support/run_raw.h"
#include "tests/support/ui_driver.h"

namespace {

constexpr DWORD kRunMs = 30000;
constexpr DWORD kSeenMs = 20000;

std::wstring Wide(const std::string& ascii) { return std::wstring(ascii.begin(), ascii.end()); }

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
  return text;
}

std::wstring Text(unsigned id, StoredLanguage language) {
  for (const ExpectedText& expected : kExpectedTexts) {
    if (expected.id == id) return expected.text[language];
  }
  ADD_FAILURE() << "no expected text " << id;
  return {};
}

// Where the program keeps its download, found here through the shell.
std::string InstallerFolder() {
  char profile[MAX_PATH] = {};
  SHGetSpecialFolderPathA(nullptr, profile, CSIDL_PROFILE, FALSE);
  return std::string(profile) + "\\tavrin\\brenlo";
}

std::vector<std::string> FilesIn(const std::string& folder) {
  std::vector<std::string> names;
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA((folder + "\\*").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return names;
  do {
    if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) names.push_back(found.cFileName);
  } while (FindNextFileA(search, &found));
  FindClose(search);
  std::sort(names.begin(), names.end());
  return names;
}

// One start of the fake installer, as it recorded it.
struct InstallerStart {
  std::string path;
  std::string commandLine;
};

// A control's text as UTF-8, for readable failures.
std::string Shown(HWND dialog, int id) { return Utf8(ControlText(dialog, id)); }

void ExpectOfferView(HWND dialog, StoredLanguage language) {
  EXPECT_EQ(Shown(dialog, IDC_MESSAGE_TEXT), Utf8(Text(IDS_UPDATE_AVAILABLE, language)));
  EXPECT_EQ(Shown(dialog, IDC_YES_BUTTON), Utf8(Text(IDS_YES, language)));
  EXPECT_EQ(Shown(dialog, IDC_LATER_BUTTON), Utf8(Text(IDS_LATER, language)));
  EXPECT_TRUE(ControlShown(dialog, IDC_YES_BUTTON) && ControlShown(dialog, IDC_LATER_BUTTON));
  EXPECT_FALSE(ControlShown(dialog, IDC_CLOSE_BUTTON));
}

// What the platform's accessibility layer names `window` (its client, as a
// screen reader asks it), as UTF-8; empty when it gives no name.
std::string AccessibleName(HWND window) {
  const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  std::string result;
  IAccessible* accessible = nullptr;
  if (SUCCEEDED(AccessibleObjectFromWindow(window, static_cast<DWORD>(OBJID_CLIENT),
                                           __uuidof(IAccessible),
                                           reinterpret_cast<void**>(&accessible))) &&
      accessible) {
    VARIANT self;
    VariantInit(&self);
    self.vt = VT_I4;
    self.lVal = CHILDID_SELF;
    BSTR name = nullptr;
    if (accessible->get_accName(self, &name) == S_OK && name)
      result = Utf8(std::wstring(name, SysStringLen(name)));
    SysFreeString(name);
    accessible->Release();
  }
  // The launch seam's tests expect the thread outside any apartment.
  if (SUCCEEDED(com)) CoUninitialize();
  return result;
}

// The download view, or the no-update view: "Yes" and "Later" hidden, the
// third button shown with `closeText`.
void ExpectClosingView(HWND dialog, const std::wstring& message, const std::wstring& closeText) {
  EXPECT_EQ(Shown(dialog, IDC_MESSAGE_TEXT), Utf8(message));
  EXPECT_EQ(Shown(dialog, IDC_CLOSE_BUTTON), Utf8(closeText));
  EXPECT_FALSE(ControlShown(dialog, IDC_YES_BUTTON) || ControlShown(dialog, IDC_LATER_BUTTON));
  EXPECT_TRUE(ControlShown(dialog, IDC_CLOSE_BUTTON));
}

// Waits until the dialog has switched to the view with `message`, its
// buttons included (the switch is several steps of the program's), and
// checks that view.
void ExpectSwitchTo(HWND dialog, const std::wstring& message, const std::wstring& closeText) {
  WaitUntil(
      [&] {
        return ControlText(dialog, IDC_MESSAGE_TEXT) == message &&
               ControlText(dialog, IDC_CLOSE_BUTTON) == closeText &&
               ControlShown(dialog, IDC_CLOSE_BUTTON) && !ControlShown(dialog, IDC_YES_BUTTON) &&
               !ControlShown(dialog, IDC_LATER_BUTTON);
      },
      kSeenMs);
  ExpectClosingView(dialog, message, closeText);
}

// The check offers "/dl/setup.exe", which answers `download`.
void ScriptOffer(const ScriptedAnswer& download) {
  ScriptedAnswer offer;
  offer.status = 302;
  offer.location = "/dl/setup.exe";
  ScriptAnswer("/check", offer);
  ScriptAnswer("/dl/setup.exe", download);
}

// Headers each request of the program carries, whatever it asks.
void ExpectProgramRequest(const LoggedRequest& request, const std::string& target,
                          const std::optional<std::string>& lastUpdate) {
  EXPECT_EQ(request.method, "GET");
  EXPECT_EQ(request.target, target);
  EXPECT_EQ(request.Values("User-Agent"), std::vector<std::string>{"Updater"});
  EXPECT_EQ(request.Values("Content-Type"), std::vector<std::string>{"text/html"});
  std::vector<std::string> expected;
  if (lastUpdate) expected.push_back(*lastUpdate);
  EXPECT_EQ(request.Values("X-Last-Installed-Update"), expected);
}

class UpdateWorkflowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetProgramState();
    ResetTestServers();
    SetLanguage(kEnglish);
    ::DeleteFileW(m_installerLog.c_str());
  }
  void TearDown() override {
    m_process.reset();
    ResetProgramState();
    ::DeleteFileW(m_installerLog.c_str());
  }

  static void SetLanguage(StoredLanguage language) {
    SetDword(Hive::Machine, kLanguageKey, "force_lcid", kStoredLanguages[language]);
  }

  // Starts the program (`program`, or the one under test): options, the
  // placeholder, the URL and the pin switch. A started installer exits with
  // `installerExit` and is given `installerEnvironment` too. False when it
  // cannot be started.
  bool Start(const std::string& options, const std::string& url, const char* pin = "0",
             DWORD installerExit = 0, std::vector<std::wstring> installerEnvironment = {},
             const std::wstring& program = ProgramPath()) {
    const std::wstring tail = Wide(options) + L"\"\" \"" + Wide(url) + L"\" \"" + Wide(pin) + L"\"";
    installerEnvironment.push_back(L"TAVRIN_TEST_INSTALLER_LOG=" + m_installerLog);
    installerEnvironment.push_back(L"TAVRIN_TEST_INSTALLER_EXIT=" + std::to_wstring(installerExit));
    m_process = std::make_unique<RawProcess>(L"\"" + program + L"\" " + tail, installerEnvironment);
    EXPECT_TRUE(m_process->Started()) << "error " << m_process->Error();
    return m_process->Started();
  }

  HWND ShownDialog() { return WaitForShownDialog(m_process->Id(), kSeenMs); }

  // The exit code once the program has ended; fails the test when it runs on.
  DWORD ExitCode(DWORD timeoutMs = kRunMs) {
    DWORD code = 0xDEAD;
    EXPECT_TRUE(m_process->Wait(timeoutMs, code)) << "still running";
    return code;
  }

  // Waits for the end while watching that the dialog never shows.
  DWORD ExitCodeUnseen() {
    bool seen = false;
    DWORD code = 0xDEAD;
    const bool ended = WaitUntil(
        [&] {
          HWND dialog = FindProgramDialog(m_process->Id());
          seen = seen || (dialog && ::IsWindowVisible(dialog));
          return m_process->Wait(0, code);
        },
        kRunMs);
    EXPECT_TRUE(ended) << "still running";
    EXPECT_FALSE(seen) << "the dialog was shown";
    return code;
  }

  std::vector<InstallerStart> InstallerStarts() const {
    std::vector<InstallerStart> starts;
    std::ifstream log(m_installerLog.c_str());
    std::string path, commandLine, end;
    while (std::getline(log, path) && std::getline(log, commandLine) && std::getline(log, end))
      starts.push_back({path, commandLine});
    return starts;
  }

  // The installer ran once, from the profile's folder under a fresh
  // temporary name, without arguments, and its file is gone.
  void ExpectOneInstallerRunAndGone() {
    const std::vector<InstallerStart> starts = InstallerStarts();
    ASSERT_EQ(starts.size(), 1u);
    const std::string& path = starts[0].path;
    const size_t slash = path.find_last_of('\\');
    ASSERT_NE(slash, std::string::npos) << path;
    EXPECT_EQ(Lower(path.substr(0, slash)), Lower(InstallerFolder()));
    EXPECT_TRUE(
        std::regex_match(path.substr(slash + 1),
                         std::regex("dex[0-9a-f]{1,4}\\.tmp-middleware\\.exe", std::regex::icase)))
        << path;
    const std::string& line = starts[0].commandLine;
    ASSERT_FALSE(line.empty());
    const size_t programEnd = line[0] == '"' ? line.find('"', 1) + 1 : line.find(' ');
    EXPECT_EQ(line.find_first_not_of(' ', std::min(programEnd, line.size())), std::string::npos)
        << "arguments in: " << line;
    EXPECT_EQ(GetFileAttributesA(path.c_str()), INVALID_FILE_ATTRIBUTES) << path << " is left";
  }

  std::string Http(const std::string& path) const {
    return TestServerUrl("http", "127.0.0.1", TestServerPort("TAVRIN_TEST_HTTP_PORT"), path);
  }
  std::string Pinned(const std::string& path) const {
    return TestServerUrl("https", "127.0.0.1", TestServerPort("TAVRIN_TEST_HTTPS_PINNED_PORT"),
                         path);
  }

  static std::string Installer() { return FileBytes(PathBesideMe(L"fake_installer.exe")); }

  std::unique_ptr<RawProcess> m_process;
  const std::wstring m_installerLog = [] {
    wchar_t folder[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, folder);
    return std::wstring(folder) + L"tavrin-installer-starts.txt";
  }();
};

using OfferTest = UpdateWorkflowTest;
using FirstAnswerTest = UpdateWorkflowTest;
using NoUpdateTest = UpdateWorkflowTest;
using InterruptionTest = UpdateWorkflowTest;
using LanguageTest = UpdateWorkflowTest;
using UnfriendlyAccountTest = UpdateWorkflowTest;
using PlantedLibraryTest = UpdateWorkflowTest;
using KeyboardTest = UpdateWorkflowTest;

// A window of the test's own that the user is typing in: an edit box in
// front, with the keyboard, away from where the dialog stands.
class TypingWindow {
 public:
  TypingWindow()
      : m_hWnd(CreateWindowExW(0, L"EDIT", L"", WS_OVERLAPPEDWINDOW | WS_VISIBLE | ES_MULTILINE, 0,
                               0, 300, 200, nullptr, nullptr, nullptr, nullptr)) {
    SetForegroundWindow(m_hWnd);
    SetFocus(m_hWnd);
  }
  ~TypingWindow() { DestroyWindow(m_hWnd); }
  TypingWindow(const TypingWindow&) = delete;
  TypingWindow& operator=(const TypingWindow&) = delete;

  HWND Get() const { return m_hWnd; }
  std::wstring Text() const {
    wchar_t text[64] = {};
    GetWindowTextW(m_hWnd, text, 64);
    return text;
  }

 private:
  HWND m_hWnd;
};

// The one file of ours that appears in `folder` within `timeoutMs`, or empty.
std::wstring WaitForTemporaryFile(const std::wstring& folder, DWORD timeoutMs) {
  std::wstring found;
  WaitUntil(
      [&] {
        WIN32_FIND_DATAW data;
        HANDLE search = FindFirstFileW((folder + L"\\dex*.tmp").c_str(), &data);
        if (search == INVALID_HANDLE_VALUE) return false;
        found = folder + L"\\" + data.cFileName;
        FindClose(search);
        return true;
      },
      timeoutMs);
  return found;
}

}  // namespace

TEST_F(OfferTest, YesDownloadsTheLocationRunsTheInstallerAndTakesItsVerdict) {
  const std::string installer = Installer();
  ASSERT_GT(installer.size(), 1000u);
  struct Case {
    const char* what;
    bool secure;  // the check asks the pinned https server, pin on
    int status;
    std::string location;
    std::string downloadTarget;
    std::string downloadListener;
    DWORD installerExit;
    DWORD exitCode;
  };
  const Case cases[] = {
      {"302, relative location", false, 302, "/dl/setup.exe?v=2", "/dl/setup.exe?v=2", "http", 0,
       0},
      // Over plain http: with the pin on, a Location must stay on https.
      {"303, absolute location elsewhere", false, 303, Http("/dl/other.exe"), "/dl/other.exe",
       "http", 3010, 1},
      {"302 over https, location without a slash", true, 302, "dl/setup.exe", "/dl/setup.exe",
       "https_pinned", 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    SetUp();
    SetString(Hive::Machine, kSettingsKey, "lastupdate", "2024-05-01");
    ScriptedAnswer offer;
    offer.status = c.status;
    offer.location = c.location;
    ScriptAnswer("/check", offer);
    ScriptedAnswer download;
    download.body = installer;
    ScriptAnswer(c.downloadTarget.substr(0, c.downloadTarget.find('?')), download);

    ASSERT_TRUE(Start("", (c.secure ? Pinned("/check?from=setup") : Http("/check?from=setup")),
                      c.secure ? "1" : "0", c.installerExit));
    HWND dialog = ShownDialog();
    ASSERT_NE(dialog, nullptr);
    ExpectOfferView(dialog, kEnglish);
    PressButton(dialog, IDC_YES_BUTTON);
    EXPECT_EQ(ExitCode(), c.exitCode);

    const std::vector<LoggedRequest> log = TestServerLog();
    ASSERT_EQ(log.size(), 2u);
    EXPECT_EQ(log[0].listener, c.secure ? "https_pinned" : "http");
    ExpectProgramRequest(log[0], "/check?from=setup", "2024-05-01");
    EXPECT_EQ(log[1].listener, c.downloadListener);
    ExpectProgramRequest(log[1], c.downloadTarget, "2024-05-01");
    ExpectOneInstallerRunAndGone();
    EXPECT_EQ(FilesIn(InstallerFolder()), std::vector<std::string>{});
    TearDown();
  }
}

TEST_F(FirstAnswerTest, BodyIsInstalledAtOnceAndOnlyAWholeOneIsStarted) {
  const std::string installer = Installer();
  struct Case {
    const char* what;
    ScriptedAnswer answer;
    bool delivered;  // the body reaches the saving, which clears leftovers
    size_t installerStarts;
    DWORD exitCode;
    bool installerBroadcasts = false;  // with SendMessage, as it runs
  };
  ScriptedAnswer whole, empty, shortBody, chunked, huge;
  whole.body = installer;
  shortBody.body = installer;
  shortBody.sendBytes = 1000;
  chunked.body = installer;
  chunked.chunked = true;
  huge.body = installer;
  huge.contentLength = "4294967296";
  const Case cases[] = {
      {"the installer", whole, true, 1, 0},
      // It waits for every top-level window, and so for any window the
      // updater's waiting thread owns: that thread must answer or own none.
      {"an installer that broadcasts a changed environment", whole, true, 1, 0, true},
      {"an empty body", empty, true, 0, 1},
      {"a body shorter than its length", shortBody, true, 0, 1},
      {"a chunked body", chunked, false, 0, 1},
      {"a length no block can hold", huge, false, 0, 1},
  };
  const std::string folder = InstallerFolder();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    SetUp();
    ScriptAnswer("/check", c.answer);
    // Files of earlier runs: two of ours, one of ours still held open, and
    // two that are not ours.
    ASSERT_EQ(SHCreateDirectoryExA(nullptr, folder.c_str(), nullptr), ERROR_SUCCESS);
    const std::vector<std::string> kept = {"dexCD34.tmp-middleware.exe",
                                           "dexGHIJ.tmp-middleware.exe", "notes.txt"};
    for (const char* name :
         {"dexAB12.tmp-middleware.exe", "DEX9.TMP", "dexGHIJ.tmp-middleware.exe", "notes.txt"})
      std::ofstream(folder + "\\" + name) << "old";
    // Closed also when an assertion below ends the case early: a handle left
    // open would keep its file for every later test.
    UniqueFileHandle held(CreateFileA((folder + "\\" + kept[0]).c_str(), GENERIC_WRITE,
                                      FILE_SHARE_READ, nullptr, CREATE_ALWAYS, 0, nullptr));
    ASSERT_TRUE(held);

    std::vector<std::wstring> environment;
    if (c.installerBroadcasts) environment.push_back(L"TAVRIN_TEST_INSTALLER_BROADCAST=1");
    ASSERT_TRUE(Start("", Http("/check"), "0", 0, environment));
    EXPECT_EQ(ExitCodeUnseen(), c.exitCode);
    held.Reset();

    EXPECT_EQ(TestServerLog().size(), 1u);
    if (c.installerStarts) {
      ExpectOneInstallerRunAndGone();
    } else {
      EXPECT_EQ(InstallerStarts().size(), 0u);
    }
    if (c.delivered) {
      EXPECT_EQ(FilesIn(folder), kept);
    } else {
      EXPECT_EQ(FilesIn(folder).size(), 5u);
    }
    TearDown();
  }
}

TEST_F(NoUpdateTest, NegativeAnswersCloseSilentlyUnlessTheCheckWasForced) {
  struct Case {
    const char* what;
    std::string options;
    std::string url;
    std::function<void()> storeLastUpdate;
    std::optional<std::string> header;  // sent as X-Last-Installed-Update
    bool requested;
    bool noUpdateView;
  };
  const std::string refused =
      TestServerUrl("http", "127.0.0.1", TestServerPort("TAVRIN_TEST_REFUSED_PORT"), "/check");
  const Case cases[] = {
      {"404", "", Http("/404"),
       [] { SetString(Hive::Machine, kSettingsKey, "lastupdate", "2024-05-01"); }, "2024-05-01",
       true, false},
      {"304, forced, a stored value that would add lines", "/f ", Http("/304"),
       [] { SetString(Hive::Machine, kSettingsKey, "lastupdate", "1\r\nX-Injected: yes"); },
       std::nullopt, true, true},
      {"204, forced, a value longer than the read", "/f ", Http("/204"),
       [] { SetString(Hive::Machine, kSettingsKey, "lastupdate", std::string(300, 'x')); },
       std::string(260, 'x'), true, true},
      {"500, a value without a terminator", "", Http("/500"),
       [] { SetBinary(Hive::Machine, kSettingsKey, "lastupdate", std::vector<uint8_t>(260, 'y')); },
       std::string(260, 'y'), true, false},
      {"nothing listening, forced", "/f ", refused, [] {}, std::nullopt, false, true},
      {"a URL without a scheme, forced", "/f ", "updates/check", [] {}, std::nullopt, false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    SetUp();
    for (int status : {404, 304, 204, 500}) {
      ScriptedAnswer refusal;
      refusal.status = status;
      ScriptAnswer("/" + std::to_string(status), refusal);
    }
    c.storeLastUpdate();

    ASSERT_TRUE(Start(c.options, c.url));
    if (c.noUpdateView) {
      HWND dialog = ShownDialog();
      ASSERT_NE(dialog, nullptr);
      ExpectClosingView(dialog, Text(IDS_NO_UPDATE_REQUIRED, kEnglish), Text(IDS_OK, kEnglish));
      PressButton(dialog, IDC_CLOSE_BUTTON);
      EXPECT_EQ(ExitCode(), 1u);
    } else {
      EXPECT_EQ(ExitCodeUnseen(), 1u);
    }

    const std::vector<LoggedRequest> log = TestServerLog();
    ASSERT_EQ(log.size(), c.requested ? 1u : 0u);
    if (c.requested) ExpectProgramRequest(log[0], c.url.substr(c.url.rfind('/')), c.header);
    EXPECT_EQ(InstallerStarts().size(), 0u);
    TearDown();
  }
}

TEST_F(InterruptionTest, ClosingTheOfferEndsWithOneAtOnce) {
  // Terminate during a stalled download is a row of the hostile-server table.
  ScriptOffer(ScriptedAnswer());

  ASSERT_TRUE(Start("", Http("/check")));
  HWND dialog = ShownDialog();
  ASSERT_NE(dialog, nullptr);
  PostClose(dialog);
  EXPECT_EQ(ExitCode(5000), 1u);
  EXPECT_EQ(TestServerLog().size(), 1u);
  EXPECT_EQ(InstallerStarts().size(), 0u);
  EXPECT_EQ(FilesIn(InstallerFolder()), std::vector<std::string>{});
}

TEST_F(LanguageTest, OfferDownloadAndNoUpdateViewsSpeakTheUsersLanguage) {
  for (StoredLanguage language : {kEnglish, kSpanish, kItalian, kVietnamese, kPortuguese}) {
    SCOPED_TRACE(Utf8(Text(IDS_YES, language)));
    SetUp();
    SetLanguage(language);
    ScriptedAnswer slowRefusal;
    slowRefusal.status = 404;
    slowRefusal.stallSeconds = 1;
    ScriptOffer(slowRefusal);

    // Forced, so that the failed download shows the no-update view.
    ASSERT_TRUE(Start("/f ", Http("/check")));
    HWND dialog = ShownDialog();
    ASSERT_NE(dialog, nullptr);
    ExpectOfferView(dialog, language);
    // What a screen reader reads: the window by text 103, each control by
    // the text it shows.
    EXPECT_EQ(AccessibleName(dialog), Utf8(Text(IDS_INSTALLER_TITLE, language)));
    for (int id : {IDC_MESSAGE_TEXT, IDC_YES_BUTTON, IDC_LATER_BUTTON})
      EXPECT_EQ(AccessibleName(GetDlgItem(dialog, id)), Shown(dialog, id)) << "control " << id;
    PressButton(dialog, IDC_YES_BUTTON);
    ExpectSwitchTo(dialog, Text(IDS_DOWNLOADING, language), Text(IDS_TERMINATE, language));
    ExpectSwitchTo(dialog, Text(IDS_NO_UPDATE_REQUIRED, language), Text(IDS_OK, language));
    PressButton(dialog, IDC_CLOSE_BUTTON);
    EXPECT_EQ(ExitCode(), 1u);
    TearDown();
  }
}

// Another program has the keyboard when the offer appears: the offer does
// not take it, and what the user types ("x", Space, Enter, "y") goes on
// reaching that program instead of answering the offer. The offer can be
// found from the taskbar and Alt+Tab.
TEST_F(KeyboardTest, TheOfferTakesNoKeyTypedForAnotherProgram) {
  ScriptedAnswer download;
  download.body = Installer();
  ScriptOffer(download);
  TypingWindow typing;
  ASSERT_TRUE(PumpUntil([&] { return GetForegroundWindow() == typing.Get(); }, 5000))
      << "the test's own window never had the keyboard";

  ASSERT_TRUE(Start("", Http("/check")));
  HWND dialog = ShownDialog();
  ASSERT_NE(dialog, nullptr);
  const LONG_PTR exStyle = GetWindowLongPtrW(dialog, GWL_EXSTYLE);
  EXPECT_TRUE((exStyle & WS_EX_APPWINDOW) && !(exStyle & WS_EX_TOOLWINDOW)) << exStyle;
  EXPECT_TRUE(exStyle & WS_EX_TOPMOST);
  // An activation would follow the showing at once.
  PumpUntil([] { return false; }, 300);
  EXPECT_EQ(GetForegroundWindow(), typing.Get()) << "the offer took the foreground";
  TypeKeys({'X', VK_SPACE, VK_RETURN, 'Y'});
  EXPECT_TRUE(PumpUntil([&] { return typing.Text() == L"x \r\ny"; }, 5000)) << Utf8(typing.Text());
  PumpUntil([] { return false; }, 500);
  EXPECT_TRUE(IsWindowVisible(dialog)) << "the offer went";
  EXPECT_EQ(TestServerLog().size(), 1u) << "the installer was asked for";
  PostClose(dialog);
  EXPECT_EQ(ExitCode(), 1u);
  EXPECT_EQ(InstallerStarts().size(), 0u);
}

// Brought to the front as Alt+Tab does, the offer is worked from the
// keyboard alone: a button has the focus, Tab and Shift+Tab move it between
// "Yes" and "Later" only, Space or Enter on "Later" opens the menu, Escape
// closes the menu and then the offer, which records nothing. In another
// run Enter on "Yes" installs, the focus on "Terminate" meanwhile.
TEST_F(KeyboardTest, BroughtToTheFrontTheOfferIsWorkedWithKeys) {
  for (bool install : {false, true}) {
    SCOPED_TRACE(install ? "Enter on Yes" : "Later, then Escape");
    SetUp();
    ScriptedAnswer download;
    download.body = Installer();
    download.stallSeconds = 2;
    ScriptOffer(download);
    ASSERT_TRUE(Start("", Http("/check")));
    HWND dialog = ShownDialog();
    ASSERT_NE(dialog, nullptr);
    HWND yes = GetDlgItem(dialog, IDC_YES_BUTTON);
    HWND later = GetDlgItem(dialog, IDC_LATER_BUTTON);
    const auto focusGoesTo = [&](HWND to) {
      return WaitUntil([&] { return FocusedWindow(dialog) == to; }, 3000);
    };
    SetForegroundWindow(dialog);
    ASSERT_TRUE(WaitUntil([&] { return GetForegroundWindow() == dialog; }, 5000));
    ASSERT_TRUE(focusGoesTo(yes)) << "focus on " << FocusedWindow(dialog);
    if (install) {
      TypeKeys({VK_RETURN});
      EXPECT_TRUE(focusGoesTo(GetDlgItem(dialog, IDC_CLOSE_BUTTON))) << "the download view's focus";
      EXPECT_EQ(ExitCode(), 0u);
      ExpectOneInstallerRunAndGone();
    } else {
      TypeKeys({VK_TAB});
      EXPECT_TRUE(focusGoesTo(later));
      TypeKeys({VK_TAB});
      EXPECT_TRUE(focusGoesTo(yes)) << "Tab went past the two buttons";
      TypeKeys({VK_TAB}, true);
      EXPECT_TRUE(focusGoesTo(later));
      for (WORD key : {VK_SPACE, VK_RETURN}) {
        TypeKeys({key});
        EXPECT_TRUE(WaitUntil([&] { return MenuShown(m_process->Id()); }, 3000)) << "key " << key;
        TypeKeys({VK_ESCAPE});
        EXPECT_TRUE(WaitUntil([&] { return !MenuShown(m_process->Id()); }, 3000));
        EXPECT_TRUE(IsWindowVisible(dialog)) << "Escape on the menu closed the offer";
      }
      TypeKeys({VK_ESCAPE});
      EXPECT_EQ(ExitCode(5000), 1u);
      EXPECT_EQ(TestServerLog().size(), 1u);
      EXPECT_FALSE(ReadValue(Hive::User, kSettingsKey, "delaymode").has_value())
          << "a reminder was recorded";
      EXPECT_EQ(InstallerStarts().size(), 0u);
    }
    TearDown();
  }
}

// A profile folder whose name the ANSI code page cannot hold, as Wine builds
// it from the profiles folder and the user's name: the installer is saved,
// started and deleted there, not in a look-alike folder. A scanner holds the
// fresh file open for a moment while it is being saved, which makes the
// rename fail at first; it is tried again and the update installs.
TEST_F(UnfriendlyAccountTest, ProfileOutsideTheCodePageAndAFileHeldForAMoment) {
  const std::wstring profiles = L"C:\\profiles-Ji\u0159\u00ED Nguy\u1EC5n";
  wchar_t user[256] = {};
  DWORD userSize = 256;
  ASSERT_TRUE(GetUserNameW(user, &userSize));
  const std::wstring folder = profiles + L"\\" + user + L"\\tavrin\\brenlo";
  DeleteFolderTree(profiles);
  {
    const ScopedStringValue moved(Hive::Machine,
                                  L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList",
                                  L"ProfilesDirectory", REG_EXPAND_SZ, profiles);
    ScriptedAnswer installer;
    installer.body = Installer() + std::string(256 * 1024, '\0');
    installer.pauseBytes = 64 * 1024;
    ScriptAnswer("/check", installer);

    ASSERT_TRUE(Start("/f ", Http("/check")));
    const std::wstring saving = WaitForTemporaryFile(folder, kSeenMs);
    ASSERT_FALSE(saving.empty()) << "nothing is being saved in " << Utf8(folder);
    // Shares reading and writing, not deleting: the rename has to wait.
    UniqueFileHandle held(CreateFileW(saving.c_str(), GENERIC_READ,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                                      nullptr));
    ASSERT_TRUE(held) << "error " << GetLastError();
    DWORD code = 0;
    EXPECT_FALSE(m_process->Wait(1800, code))
        << "ended with " << code << " while the file was held";
    held.Reset();
    EXPECT_EQ(ExitCodeUnseen(), 0u);

    const std::vector<InstallerStart> starts = InstallerStarts();
    ASSERT_EQ(starts.size(), 1u);
    EXPECT_EQ(Lower(starts[0].path.substr(0, starts[0].path.find_last_of('\\'))),
              Lower(Utf8(folder)));
    EXPECT_TRUE(WaitForTemporaryFile(folder, 0).empty());
    WIN32_FIND_DATAW data;
    HANDLE search = FindFirstFileW((folder + L"\\*.*").c_str(), &data);
    ASSERT_NE(search, INVALID_HANDLE_VALUE) << "the folder is gone";
    std::vector<std::wstring> left;
    do {
      if (!(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) left.push_back(data.cFileName);
    } while (FindNextFileW(search, &data));
    FindClose(search);
    EXPECT_TRUE(left.empty()) << Utf8(left.empty() ? L"" : left[0]) << " is left";
  }
  DeleteFolderTree(profiles);
}

namespace {

constexpr char kInternetSettingsKey[] =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings";

// The user's proxy, as Internet Options writes it, for the life of the
// object; then the settings are put back as they were.
class ScopedUserProxy {
 public:
  // `bypass`: the hosts it does not serve, as ProxyOverride lists them.
  explicit ScopedUserProxy(unsigned port, const wchar_t* bypass = L"")
      : m_server(Hive::User, L"Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings",
                 L"ProxyServer", REG_SZ, L"127.0.0.1:" + std::to_wstring(port)),
        m_bypass(Hive::User, L"Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings",
                 L"ProxyOverride", REG_SZ, bypass),
        m_enabled(ReadValue(Hive::User, kInternetSettingsKey, "ProxyEnable")) {
    SetDword(Hive::User, kInternetSettingsKey, "ProxyEnable", 1);
  }
  ~ScopedUserProxy() {
    const std::optional<uint32_t> enabled = m_enabled ? m_enabled->AsDword() : std::nullopt;
    if (enabled) {
      SetDword(Hive::User, kInternetSettingsKey, "ProxyEnable", *enabled);
    } else {
      DeleteValue(Hive::User, kInternetSettingsKey, "ProxyEnable");
    }
  }
  ScopedUserProxy(const ScopedUserProxy&) = delete;
  ScopedUserProxy& operator=(const ScopedUserProxy&) = delete;

 private:
  ScopedStringValue m_server;
  ScopedStringValue m_bypass;
  std::optional<RegistryValue> m_enabled;
};

// The requests a tinyproxy log records after its first `skip` bytes, as
// "GET <url>" or "CONNECT <host:port>".
std::vector<std::string> ProxiedRequests(const char* logVariable, size_t skip) {
  std::string path = "Z:" + TestServerValue(logVariable);
  std::replace(path.begin(), path.end(), '/', '\\');
  const std::string log = FileBytes(Wide(path));
  std::vector<std::string> requests;
  const std::regex line(R"(Request \(file descriptor \d+\): (\S+ \S+) HTTP)");
  for (auto it = std::sregex_iterator(log.begin() + std::min(skip, log.size()), log.end(), line);
       it != std::sregex_iterator(); ++it) {
    requests.push_back((*it)[1]);
  }
  return requests;
}

size_t ProxyLogSize(const char* logVariable) {
  std::string path = "Z:" + TestServerValue(logVariable);
  std::replace(path.begin(), path.end(), '/', '\\');
  return FileBytes(Wide(path)).size();
}

}  // namespace

using ProxyTest = UpdateWorkflowTest;

// The user's proxy from Internet Options, a real one: the check and the
// download go through it, pinned https through its tunnel, its password is
// asked once and goes to it alone, and a proxy that is down or a prompt that
// is cancelled end the run quietly.
TEST_F(ProxyTest, ChecksAndDownloadsGoThroughTheUsersProxy) {
  enum class Prompt { None, Typed, Cancelled, Wrong };
  struct Case {
    const char* what;
    const char* proxyPort;  // the variable naming its port
    const char* proxyLog;   // and its log; null: none to read
    bool secure;            // the pinned https server, pin on
    Prompt prompt;
    bool installed;  // else a quiet end with 1 and nothing asked of the server
    // The offer names "localhost", which the proxy settings send direct,
    // and that server answers the download with a proxy's 407.
    bool directImpostor = false;
  };
  const Case cases[] = {
      {"plain forwarding", "TAVRIN_TEST_PROXY_PORT", "TAVRIN_TEST_PROXY_LOG", false, Prompt::None,
       true},
      {"pinned https through the tunnel", "TAVRIN_TEST_PROXY_PORT", "TAVRIN_TEST_PROXY_LOG", true,
       Prompt::None, true},
      {"a password asked once", "TAVRIN_TEST_AUTH_PROXY_PORT", "TAVRIN_TEST_AUTH_PROXY_LOG", false,
       Prompt::Typed, true},
      {"pinned https through the password proxy", "TAVRIN_TEST_AUTH_PROXY_PORT",
       "TAVRIN_TEST_AUTH_PROXY_LOG", true, Prompt::Typed, true},
      {"the password prompt cancelled", "TAVRIN_TEST_AUTH_PROXY_PORT", "TAVRIN_TEST_AUTH_PROXY_LOG",
       false, Prompt::Cancelled, false},
      {"a proxy that is down", "TAVRIN_TEST_REFUSED_PORT", nullptr, false, Prompt::None, false},
      // The proxy refuses it with a 401 (tinyproxy), which asks nothing more.
      {"a wrong password", "TAVRIN_TEST_AUTH_PROXY_PORT", "TAVRIN_TEST_AUTH_PROXY_LOG", false,
       Prompt::Wrong, false},
      {"the password typed, then a 407 from a server that is no proxy",
       "TAVRIN_TEST_AUTH_PROXY_PORT", "TAVRIN_TEST_AUTH_PROXY_LOG", false, Prompt::Typed, false,
       true},
  };
  const std::wstring user = Wide(TestServerValue("TAVRIN_TEST_AUTH_PROXY_USER"));
  const std::wstring password = Wide(TestServerValue("TAVRIN_TEST_AUTH_PROXY_PASSWORD"));
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    SetUp();
    SetString(Hive::Machine, kSettingsKey, "lastupdate", "2024-05-01");
    ScriptedAnswer download;
    download.body = Installer();
    ScriptOffer(download);
    if (c.directImpostor) {
      ScriptAnswer("/check", Redirect(302, TestServerUrl("http", "localhost",
                                                         TestServerPort("TAVRIN_TEST_HTTP_PORT"),
                                                         "/dl/setup.exe")));
      download.status = 407;
      download.headers = {{"Proxy-Authenticate", "Basic realm=\"proxy\""}};
      ScriptAnswer("/dl/setup.exe", download);
    }
    const size_t logStart = c.proxyLog ? ProxyLogSize(c.proxyLog) : 0;
    const ScopedUserProxy proxy(TestServerPort(c.proxyPort), L"localhost");

    ASSERT_TRUE(Start("", c.secure ? Pinned("/check") : Http("/check"), c.secure ? "1" : "0"));
    int prompts = 0;
    bool offered = false;
    bool otherView = false;
    DWORD code = 0xDEAD;
    EXPECT_TRUE(WaitUntil(
        [&] {
          if (HWND prompt = FindCredentialPrompt(m_process->Id())) {
            if (++prompts == 1 && c.prompt == Prompt::Typed) {
              AnswerCredentialPrompt(prompt, user, password);
            } else if (prompts == 1 && c.prompt == Prompt::Wrong) {
              AnswerCredentialPrompt(prompt, user, password + L"-wrong");
            } else {
              PressButton(prompt, IDCANCEL);
            }
            WaitUntil([&] { return !::IsWindow(prompt) || !::IsWindowVisible(prompt); }, kSeenMs);
            return false;
          }
          HWND dialog = FindProgramDialog(m_process->Id());
          if (dialog && ::IsWindowVisible(dialog) && !offered) {
            if (ControlShown(dialog, IDC_YES_BUTTON)) {
              offered = true;
              PressButton(dialog, IDC_YES_BUTTON);
            } else {
              otherView = true;
            }
          }
          return m_process->Wait(0, code);
        },
        kRunMs))
        << "still running";
    EXPECT_EQ(prompts, c.prompt == Prompt::None ? 0 : 1);
    EXPECT_FALSE(otherView);
    EXPECT_EQ(offered, c.installed || c.directImpostor);
    EXPECT_EQ(code, c.installed ? 0u : 1u);

    const std::vector<LoggedRequest> log = TestServerLog();
    if (c.directImpostor) {
      // Asked directly, the server gets nothing of the proxy's password.
      ASSERT_EQ(log.size(), 2u);
      EXPECT_EQ(log[1].target, "/dl/setup.exe");
      EXPECT_EQ(log[1].Values("Proxy-Authorization"), std::vector<std::string>{});
      EXPECT_EQ(log[1].Values("Via"), std::vector<std::string>{}) << "it went through the proxy";
      EXPECT_EQ(InstallerStarts().size(), 0u);
      TearDown();
      continue;
    }
    if (!c.installed) {
      EXPECT_EQ(log.size(), 0u);
      EXPECT_EQ(InstallerStarts().size(), 0u);
      TearDown();
      continue;
    }
    ExpectOneInstallerRunAndGone();
    ASSERT_EQ(log.size(), 2u);
    ExpectProgramRequest(log[0], "/check", "2024-05-01");
    ExpectProgramRequest(log[1], "/dl/setup.exe", "2024-05-01");
    // Requests the proxy refused for want of the password are logged too,
    // as the same request again.
    const std::vector<std::string> proxied = ProxiedRequests(c.proxyLog, logStart);
    std::vector<std::string> asked = proxied;
    asked.erase(std::unique(asked.begin(), asked.end()), asked.end());
    EXPECT_EQ(proxied.size() > 2, c.prompt == Prompt::Typed);
    if (c.secure) {
      // Both through a tunnel to the server, which is all the proxy sees.
      EXPECT_EQ(asked, std::vector<std::string>{
                           "CONNECT 127.0.0.1:" +
                           std::to_string(TestServerPort("TAVRIN_TEST_HTTPS_PINNED_PORT"))});
    } else {
      EXPECT_EQ(asked, (std::vector<std::string>{"GET " + Http("/check"),
                                                 "GET " + Http("/dl/setup.exe")}));
      // The proxy's name for itself, which it adds to what it forwards.
      for (const LoggedRequest& request : log) {
        ASSERT_EQ(request.Values("Via").size(), 1u);
        EXPECT_NE(request.Values("Via")[0].find("tinyproxy"), std::string::npos);
      }
    }
    TearDown();
  }
}

// DLLs named like the system DLLs the program loads by name (each writes a
// marker beside itself once loaded) in the folder of a copy of the program,
// as a downloads folder may hold them: a whole update loads none of them.
// Where a program that loads them by plain name does not load one either,
// the platform (Wine) takes its own DLL for that name anyway, and that name
// cannot show the fault here. A late DLL that cannot be found ends a run
// with the product's hooks as a failure does.
TEST_F(PlantedLibraryTest, AWholeUpdateLoadsNoDllFromTheProgramsFolder) {
  const std::wstring folder = PathBesideMe(L"planted");
  // The last is no system DLL at all: nothing of the platform's can win.
  const std::vector<std::wstring> names = {L"wininet.dll",  L"crypt32.dll", L"ole32.dll",
                                           L"oleaut32.dll", L"userenv.dll", L"tavrin-absent.dll"};
  const auto loaded = [&] {
    std::vector<std::string> found;
    for (const std::wstring& name : names) {
      if (GetFileAttributesW((folder + L"\\" + name + L".loaded").c_str()) !=
          INVALID_FILE_ATTRIBUTES)
        found.push_back(Utf8(name));
    }
    return found;
  };
  const auto clear = [&] {
    for (const std::wstring& name : names)
      DeleteFileW((folder + L"\\" + name + L".loaded").c_str());
  };
  clear();
  std::wstring loadAll = L"\"" + folder + L"\\planted_loader.exe\"";
  for (const std::wstring& name : names) loadAll += L" " + name;
  const RunResult plain = RunRaw(loadAll);
  ASSERT_TRUE(plain.finished);
  const std::vector<std::string> shown = loaded();
  std::string list;
  for (const std::string& name : shown) list += " " + name;
  printf("loaded from beside a program that asks by plain name:%s\n", list.c_str());
  ASSERT_FALSE(shown.empty()) << "no stand-in can show a load from the program's folder";
  clear();

  // A late DLL that the system folder lacks: the run ends with 1, neither
  // with the binding helper's exception nor with the stand-in beside it.
  const RunResult absent = RunRaw(L"\"" + folder + L"\\planted_probe.exe\"");
  ASSERT_TRUE(absent.finished);
  EXPECT_EQ(absent.exitCode, 1u);
  EXPECT_EQ(loaded(), std::vector<std::string>{});
  clear();

  const std::wstring copy = folder + L"\\tavrin-corvel.exe";
  ASSERT_TRUE(CopyFileW(ProgramPath().c_str(), copy.c_str(), FALSE));
  ScriptedAnswer installer;
  installer.body = Installer();
  ScriptAnswer("/check", installer);
  ASSERT_TRUE(Start("", Http("/check"), "0", 0, {}, copy));
  EXPECT_EQ(ExitCodeUnseen(), 0u);
  ExpectOneInstallerRunAndGone();
  EXPECT_EQ(loaded(), std::vector<std::string>{});
  clear();
  DeleteFileW(copy.c_str());
}

int wmain(int argc, wchar_t** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}

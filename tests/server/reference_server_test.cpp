// The program against the reference update server (server/, nginx), with the
// stand-in installer published: whether an update is offered is nginx's rule
// alone, and the installer records the published version as the machine's
// "lastupdate" as the real one does, so consecutive runs go through a whole
// cycle: offered and installed, then no longer offered, offered again to an
// older version. nginx's access log shows what each run asked and got,
// including the rollout bucket, kept across runs and drawn again when it is
// gone or broken, and the server's day echoed from the run before.
#include <gtest/gtest.h>
#include <shlobj.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "resources/resource.h"
#include "tests/resources/expected_texts.h"
#include "tests/support/registry.h"
#include "tests/support/run_raw.h"
#include "tests/support/ui_driver.h"

namespace {

constexpr DWORD kRunMs = 30000;
constexpr DWORD kSeenMs = 20000;

std::string Reference(const char* variable) {
  const char* value = getenv(variable);
  EXPECT_TRUE(value && *value) << variable
                               << " is not set: run through tests/server/with-reference-server";
  return value ? value : "";
}

std::wstring Wide(const std::string& ascii) { return std::wstring(ascii.begin(), ascii.end()); }

std::wstring English(unsigned id) {
  for (const ExpectedText& expected : kExpectedTexts)
    if (expected.id == id) return expected.text[kEnglish];
  ADD_FAILURE() << "no expected text " << id;
  return {};
}

// One line of the access log (server/nginx.conf.in's "updater" format).
struct Served {
  int status = 0;
  std::string method, target, lastUpdate, agent, contentLength, transferEncoding, bytesSent, scheme;
  std::string lastCheckDay, bucket;
};

std::vector<Served> AccessLog() {
  std::vector<Served> served;
  std::ifstream log(Reference("TAVRIN_REFERENCE_ACCESS_LOG").c_str());
  std::string line;
  while (std::getline(log, line)) {
    std::vector<std::string> fields;
    std::istringstream split(line);
    for (std::string field; std::getline(split, field, '\t');) fields.push_back(field);
    fields.resize(13);
    // server/publish's own HEAD, which asks whether nginx serves its state.
    if (fields[1] == "HEAD") continue;
    served.push_back({atoi(fields[0].c_str()), fields[1], fields[2], fields[3], fields[4],
                      fields[5], fields[6], fields[7], fields[8], fields[11], fields[12]});
  }
  return served;
}

size_t InstallerStarts(const std::wstring& log) {
  std::ifstream records(log.c_str());
  size_t ends = 0;
  for (std::string line; std::getline(records, line);) ends += line == "END";
  return ends;
}

// The files in the program's download folder (earlier tests may have left
// some that were held open).
std::vector<std::string> DownloadFolder() {
  char profile[MAX_PATH] = {};
  SHGetSpecialFolderPathA(nullptr, profile, CSIDL_PROFILE, FALSE);
  std::vector<std::string> names;
  std::error_code error;
  for (const auto& entry :
       std::filesystem::directory_iterator(std::string(profile) + "\\tavrin\\brenlo", error))
    names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

// Today in UTC as the server writes it into X-Server-Day.
std::string UtcDay() {
  SYSTEMTIME now = {};
  ::GetSystemTime(&now);
  char day[16];
  snprintf(day, sizeof day, "%04u-%02u-%02u", now.wYear, now.wMonth, now.wDay);
  return day;
}

// The installer of `version` on the server, with `suffix` appended.
std::wstring InstallerOnServer(const char* version, const wchar_t* suffix) {
  std::wstring root = L"Z:" + Wide(Reference("TAVRIN_REFERENCE_ROOT"));
  std::replace(root.begin(), root.end(), L'/', L'\\');
  return root + L"\\installers\\" + Wide(version) + L"\\middleware-setup.exe" + suffix;
}

// Has with-reference-server run server/publish for `version` against the
// running nginx, and says whether it succeeded (it returns once nginx serves
// the new state).
bool Publish(const char* version) {
  static int requests = 0;
  const std::wstring control = Wide(Reference("TAVRIN_REFERENCE_CONTROL"));
  const std::wstring name = control + L"\\" + std::to_wstring(++requests);
  {
    std::ofstream request(std::filesystem::path(name + L".new"), std::ios::binary);
    request << "publish " << version << "\n";
  }
  if (!::MoveFileW((name + L".new").c_str(), (name + L".request").c_str())) return false;
  std::string status;
  WaitUntil(
      [&] {
        std::ifstream(std::filesystem::path(name + L".status")) >> status;
        return !status.empty();
      },
      30000);
  std::ifstream output(std::filesystem::path(name + L".output"));
  const std::string said((std::istreambuf_iterator<char>(output)),
                         std::istreambuf_iterator<char>());
  EXPECT_EQ(status, "0") << "server/publish " << version << ": " << said;
  return status == "0";
}

}  // namespace

TEST(ReferenceServerTest, OffersUntilThePublishedVersionIsInstalledAndServesTheInstallerWhole) {
  const std::string version = Reference("TAVRIN_REFERENCE_VERSION");
  const std::string installerPath = "/installers/" + version + "/middleware-setup.exe";
  const auto installerSize = std::filesystem::file_size(PathBesideMe(L"fake_installer.exe"));
  const std::string https =
      "https://127.0.0.1:" + Reference("TAVRIN_REFERENCE_HTTPS_PORT") + "/check?from=setup";
  const std::string http = "http://127.0.0.1:" + Reference("TAVRIN_REFERENCE_HTTP_PORT") + "/check";
  wchar_t temp[MAX_PATH] = {};
  GetTempPathW(MAX_PATH, temp);
  const std::wstring installerLog = std::wstring(temp) + L"tavrin-reference-installer.txt";
  ::DeleteFileW(installerLog.c_str());
  ResetProgramState();
  SetDword(Hive::Machine, kLanguageKey, "force_lcid", kStoredLanguages[kEnglish]);

  enum Action { kPressYes, kCloseOffer, kCloseNoUpdate, kEndsUnseen };
  enum Bucket { kKeepBucket, kRemoveBucket, kBreakBucket };
  struct Row {
    const char* what;
    const char* storeLastUpdate;  // before the run; null: as the runs before left it
    const char* options;
    bool secure;       // https with the pin on; else http without
    std::string sent;  // the check's X-Last-Installed-Update ("": none)
    int checkStatus;
    Action action;
    DWORD exitCode;
    // The program built with the publisher's key: it fetches the signature
    // that server/publish wrote beside the installer.
    bool keyed = false;
    Bucket bucket = kKeepBucket;  // what happens to "rolloutbucket" before the run
    // Before the run: server/publish publishes the same installer as this
    // version (a new one, or an earlier one again: a rollback).
    const char* publish = nullptr;
    // Before the run, as a compromised server would: the statement of the
    // installer at `replayFrom` served for the one at `replayTo`.
    const char* replayFrom = nullptr;
    const char* replayTo = nullptr;
    const char* installs = nullptr;  // what the installer records; null: the published version
  };
  const Row rows[] = {
      {"nothing installed: offered, Yes installs over the pinned https", nullptr, "", true, "", 302,
       kPressYes, 0},
      {"the installer recorded the published version: a forced check says no update", nullptr,
       "/f ", true, version, 204, kCloseNoUpdate, 1},
      {"the same without /f ends without a window", nullptr, "", false, version, 204, kEndsUnseen,
       1},
      {"an older version installed: offered again; a removed bucket is drawn again", "1.0.0", "",
       false, "1.0.0", 302, kCloseOffer, 1, false, kRemoveBucket},
      {"the program with the publisher's key installs the signed installer; a broken bucket is "
       "drawn again",
       "1.0.0", "", true, "1.0.0", 302, kPressYes, 0, true, kBreakBucket},
      // The keyed program keeps the sequence of the statement it installed
      // under: 2.0.0 had 1, 2.1.0 gets 2.
      {"a newer version published with a key: the keyed program installs it", nullptr, "", true,
       version, 302, kPressYes, 0, true, kKeepBucket, "2.1.0", nullptr, nullptr, "2.1.0"},
      {"the server replays the older signed release: refused, nothing started", version.c_str(), "",
       true, version, 302, kPressYes, 1, true, kKeepBucket, nullptr, "2.0.0", "2.1.0"},
      {"a rollback that publish signs again (sequence 3) installs", "2.1.0", "", true, "2.1.0", 302,
       kPressYes, 0, true, kKeepBucket, "2.0.0"},
  };
  size_t logged = 0;
  size_t installed = 0;
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    const std::vector<std::string> leftBefore = DownloadFolder();
    if (row.storeLastUpdate)
      SetString(Hive::Machine, kSettingsKey, "lastupdate", row.storeLastUpdate);
    if (row.bucket == kRemoveBucket) DeleteValue(Hive::User, kSettingsKey, "rolloutbucket");
    if (row.bucket == kBreakBucket) SetDword(Hive::User, kSettingsKey, "rolloutbucket", 10000);
    if (row.publish) {
      ASSERT_TRUE(Publish(row.publish));
    }
    if (row.replayFrom) {
      for (const wchar_t* suffix : {L".release", L".release.sig"}) {
        ASSERT_TRUE(::CopyFileW(InstallerOnServer(row.replayFrom, suffix).c_str(),
                                InstallerOnServer(row.replayTo, suffix).c_str(), FALSE))
            << ::GetLastError();
      }
    }
    const auto bucketBefore = ReadValue(Hive::User, kSettingsKey, "rolloutbucket");
    const auto dayBefore = ReadValue(Hive::User, kSettingsKey, "lastcheckday");
    const std::wstring arguments = Wide(row.options) + L"\"\" \"" +
                                   Wide(row.secure ? https : http) + L"\" " +
                                   (row.secure ? L"1" : L"0");
    RawProcess program(
        row.keyed ? L"\"" + PathBesideMe(L"tavrin-corvel-keyed.exe") + L"\" " + arguments
                  : ProgramCommand(arguments),
        {L"TAVRIN_TEST_INSTALLER_LOG=" + installerLog,
         L"TAVRIN_TEST_INSTALLER_LASTUPDATE=" + Wide(row.installs ? row.installs : version)});
    ASSERT_TRUE(program.Started()) << "error " << program.Error();
    DWORD exitCode = 0xDEAD;
    if (row.action == kEndsUnseen) {
      bool seen = false;
      EXPECT_TRUE(WaitUntil(
          [&] {
            const HWND dialog = FindProgramDialog(program.Id());
            seen = seen || (dialog && ::IsWindowVisible(dialog));
            return program.Wait(0, exitCode);
          },
          kRunMs));
      EXPECT_FALSE(seen) << "the dialog was shown";
    } else {
      const HWND dialog = WaitForShownDialog(program.Id(), kSeenMs);
      ASSERT_NE(dialog, nullptr);
      const bool offer = row.action != kCloseNoUpdate;
      const std::wstring message = English(offer ? IDS_UPDATE_AVAILABLE : IDS_NO_UPDATE_REQUIRED);
      EXPECT_TRUE(
          WaitUntil([&] { return ControlText(dialog, IDC_MESSAGE_TEXT) == message; }, kSeenMs))
          << Utf8(ControlText(dialog, IDC_MESSAGE_TEXT));
      EXPECT_EQ(ControlShown(dialog, IDC_YES_BUTTON), offer);
      if (row.action == kPressYes) PressButton(dialog, IDC_YES_BUTTON);
      if (row.action == kCloseOffer) PostClose(dialog);
      if (row.action == kCloseNoUpdate) PressButton(dialog, IDC_CLOSE_BUTTON);
      EXPECT_TRUE(program.Wait(kRunMs, exitCode)) << "still running";
    }
    EXPECT_EQ(exitCode, row.exitCode);

    // The check, then the download after Yes; nginx logs each request once
    // it has answered.
    const bool downloaded = row.action == kPressYes;
    const size_t expected = logged + (downloaded ? (row.keyed ? 4 : 2) : 1);
    WaitUntil([&] { return AccessLog().size() >= expected; }, 5000);
    const std::vector<Served> log = AccessLog();
    ASSERT_EQ(log.size(), expected);
    const Served& check = log[logged];
    EXPECT_EQ(check.status, row.checkStatus);
    EXPECT_EQ(check.method, "GET");
    EXPECT_EQ(check.target, row.secure ? "/check?from=setup" : "/check");
    EXPECT_EQ(check.scheme, row.secure ? "https" : "http");
    EXPECT_EQ(check.lastUpdate, row.sent);
    EXPECT_EQ(check.agent, "Updater");
    // The bucket: one drawn on the first run (and after it was removed or
    // broken) and stored, then the same one.
    const auto bucket = ReadValue(Hive::User, kSettingsKey, "rolloutbucket");
    ASSERT_TRUE(bucket.has_value());
    EXPECT_EQ(bucket->type, static_cast<DWORD>(REG_DWORD));
    EXPECT_LT(bucket->AsDword().value_or(10000), 10000u);
    EXPECT_EQ(check.bucket, std::to_string(bucket->AsDword().value_or(10000)));
    if (row.bucket == kKeepBucket && bucketBefore) {
      EXPECT_EQ(bucket->bytes, bucketBefore->bytes);
    }
    // The day of the answer before, or "none"; this answer's day is kept.
    EXPECT_EQ(check.lastCheckDay, dayBefore ? dayBefore->AsString() : "none");
    const auto day = ReadValue(Hive::User, kSettingsKey, "lastcheckday");
    EXPECT_EQ(day ? day->AsString() : "", UtcDay());
    // After Yes: the installer, and for the keyed program first its
    // release statement and the statement's signature (nginx logs a request
    // when it has answered, so the installer may come last).
    const std::string offered = "/installers/" +
                                std::string(row.publish    ? row.publish
                                            : row.replayTo ? row.replayTo
                                                           : version.c_str()) +
                                "/middleware-setup.exe";
    std::vector<std::string> fetched, wanted = {offered};
    if (row.keyed) wanted = {offered, offered + ".release", offered + ".release.sig"};
    for (size_t i = logged + 1; i < expected; ++i) {
      const Served& download = log[i];
      fetched.push_back(download.target);
      EXPECT_EQ(download.status, 200) << download.target;
      EXPECT_EQ(download.scheme, check.scheme);
      EXPECT_EQ(download.bucket, "");
      if (download.target != offered) continue;
      EXPECT_EQ(download.contentLength, std::to_string(installerSize));
      if (row.exitCode == 0) {
        EXPECT_EQ(download.bytesSent, std::to_string(installerSize));
      }
      EXPECT_EQ(download.transferEncoding, "");
    }
    std::sort(fetched.begin(), fetched.end());
    if (downloaded) {
      EXPECT_EQ(fetched, wanted);
    }
    if (downloaded && row.exitCode == 0) ++installed;
    logged = expected;
    EXPECT_EQ(InstallerStarts(installerLog), installed);
    // Nothing new is left; what earlier tests left may have been cleared
    // by the program.
    for (const std::string& name : DownloadFolder()) {
      EXPECT_TRUE(std::binary_search(leftBefore.begin(), leftBefore.end(), name))
          << name << " is left";
    }
  }
  ::DeleteFileW(installerLog.c_str());
  ResetProgramState();
}

int wmain(int argc, wchar_t** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}

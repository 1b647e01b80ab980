// The localized texts as users of different languages get them. The program's
// resources are linked into this executable, so it finds the same tables as
// the program. A user's language is fixed when a process starts, so each one
// is tried in a child: this executable started again under Wine with LC_ALL
// set, which Wine turns into the user's language.
#include "text/text.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

#include "app/globals.h"
#include "platform/unique_handle.h"
#include "resources/resource.h"
#include "tests/resources/expected_texts.h"

namespace {

constexpr wchar_t kReportOption[] = L"--report-texts";
constexpr unsigned kFirstId = IDS_INSTALLER_TITLE;
constexpr unsigned kLastId = IDS_OK;

// What a child saw: its user language and LoadText of every id.
struct Report {
  LANGID userLanguage = 0;
  std::vector<std::wstring> texts;
};

// The child's side: LoadText of ids 103 to 115 with `forced` as the forced
// language, written to `path` as a sequence of 16-bit units: the user's
// language, then per text its length and its code units. The file appears
// under its name only when it is complete.
int WriteReport(const wchar_t* path, const wchar_t* forced) {
  g_forcedLangId = static_cast<LANGID>(std::wcstoul(forced, nullptr, 16));
  std::vector<wchar_t> units{static_cast<wchar_t>(::GetUserDefaultLangID())};
  for (unsigned id = kFirstId; id <= kLastId; ++id) {
    const std::wstring text = LoadText(id);
    units.push_back(static_cast<wchar_t>(text.size()));
    units.insert(units.end(), text.begin(), text.end());
  }
  const std::wstring partial = std::wstring(path) + L".partial";
  {
    UniqueFileHandle file(::CreateFileW(partial.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                        FILE_ATTRIBUTE_NORMAL, nullptr));
    DWORD written = 0;
    const DWORD size = static_cast<DWORD>(units.size() * sizeof(wchar_t));
    if (!file || !::WriteFile(file.Get(), units.data(), size, &written, nullptr) ||
        written != size) {
      return 1;
    }
  }
  return ::MoveFileExW(partial.c_str(), path, MOVEFILE_REPLACE_EXISTING) ? 0 : 1;
}

bool UnderWine() {
  return ::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
}

// The Unix path of the Wine loader that runs this test: the runner exports
// it, and 32-bit and 64-bit programs need their own.
std::wstring WineLoader() {
  wchar_t loader[MAX_PATH] = {};
  const DWORD length = ::GetEnvironmentVariableW(L"WINELOADER", loader, MAX_PATH);
  return length > 0 && length < MAX_PATH ? std::wstring(loader) : std::wstring(L"wine");
}

std::wstring TempFile() {
  wchar_t folder[MAX_PATH] = {};
  wchar_t path[MAX_PATH] = {};
  ::GetTempPathW(MAX_PATH, folder);
  ::GetTempFileNameW(folder, L"txt", 0, path);
  return path;
}

// Starts this executable as a child with LC_ALL=`locale` and reads back what
// it saw. Fails the current test (and returns an empty report) on any trouble.
//
// Wine takes a process's user language from the Unix locale it starts with,
// and a child made by CreateProcess keeps its parent's whatever its
// environment says. So the child is started from the Unix side: Wine runs a
// Unix program named by its Z: path, here env, which starts Wine again with
// LC_ALL set. Such a start hands back no process handle; the child's report
// file, which appears only when complete, is what the parent waits for.
Report RunChild(const wchar_t* locale, LANGID forced) {
  wchar_t self[MAX_PATH] = {};
  ::GetModuleFileNameW(nullptr, self, MAX_PATH);
  const std::wstring path = TempFile();
  ::DeleteFileW(path.c_str());
  wchar_t forcedText[8] = {};
  std::swprintf(forcedText, 8, L"%04x", forced);
  std::wstring command = std::wstring(L"Z:\\usr\\bin\\env LC_ALL=") + locale + L" " + WineLoader() +
                         L" \"" + self + L"\" " + kReportOption + L" \"" + path + L"\" " +
                         forcedText;

  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  const bool started = ::CreateProcessW(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr,
                                        nullptr, &startup, &process);
  EXPECT_TRUE(started) << "error " << ::GetLastError();
  if (process.hThread) ::CloseHandle(process.hThread);
  if (process.hProcess) ::CloseHandle(process.hProcess);
  const ULONGLONG deadline = ::GetTickCount64() + 60000;
  while (started && ::GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES &&
         ::GetTickCount64() < deadline) {
    ::Sleep(20);
  }

  Report report;
  std::vector<wchar_t> units;
  {
    // Shared: the child's rename may still hold the file open for a moment
    // after the name appears (Wine renames through an open handle).
    UniqueFileHandle file(::CreateFileW(path.c_str(), GENERIC_READ,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                        nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    LARGE_INTEGER size{};
    if (file && ::GetFileSizeEx(file.Get(), &size)) {
      units.resize(static_cast<std::size_t>(size.QuadPart) / sizeof(wchar_t));
      DWORD read = 0;
      ::ReadFile(file.Get(), units.data(), static_cast<DWORD>(units.size() * sizeof(wchar_t)),
                 &read, nullptr);
    }
  }
  ::DeleteFileW(path.c_str());
  EXPECT_FALSE(units.empty()) << "the child wrote no report";

  std::size_t at = 0;
  if (at < units.size()) report.userLanguage = static_cast<LANGID>(units[at++]);
  while (at < units.size()) {
    const std::size_t length = units[at++];
    if (units.size() - at < length) break;
    report.texts.emplace_back(units.begin() + at, units.begin() + at + length);
    at += length;
  }
  EXPECT_EQ(kLastId - kFirstId + 1, report.texts.size()) << "report cut short";
  return report;
}

void ExpectTexts(const Report& report, StoredLanguage language) {
  for (const ExpectedText& row : kExpectedTexts) {
    const std::size_t index = row.id - kFirstId;
    if (index >= report.texts.size()) continue;
    EXPECT_TRUE(report.texts[index] == row.text[language])
        << "id " << row.id << ": got \"" << Utf8(report.texts[index]) << "\", want \""
        << Utf8(row.text[language]) << "\"";
  }
}

struct UserCase {
  const wchar_t* locale;
  LANGID userLanguage;
  StoredLanguage sees;
};

}  // namespace

TEST(LoadText, EachUserSeesTheTablesOfTheirLanguage) {
  if (!UnderWine()) GTEST_SKIP() << "the user's language is set through Wine";
  const UserCase cases[] = {
      // Portuguese is stored only for Portugal: a Brazilian user gets it
      // through the mapping, not through the platform's lookup.
      {L"pt_BR.UTF-8", 0x0416, kPortuguese},
      {L"es_MX.UTF-8", 0x080A, kSpanish},
      {L"it_CH.UTF-8", 0x0810, kItalian},
      {L"en_GB.UTF-8", 0x0809, kEnglish},
      {L"vi_VN.UTF-8", 0x042A, kVietnamese},
      // No German table: English, the last candidate, answers.
      {L"de_DE.UTF-8", 0x0407, kEnglish},
  };
  for (const UserCase& user : cases) {
    SCOPED_TRACE(Utf8(user.locale));
    const Report report = RunChild(user.locale, 0);
    ASSERT_EQ(user.userLanguage, report.userLanguage) << "LC_ALL did not set the user's language";
    ExpectTexts(report, user.sees);
  }
}

TEST(LoadText, ForcedLanguageWinsWhenItHasATable) {
  if (!UnderWine()) GTEST_SKIP() << "the user's language is set through Wine";
  const Report spanishUser = RunChild(L"es_MX.UTF-8", 0x0010);
  EXPECT_EQ(0x080A, spanishUser.userLanguage);
  ExpectTexts(spanishUser, kItalian);
  ExpectTexts(RunChild(L"vi_VN.UTF-8", 0x0410), kItalian);
  ExpectTexts(RunChild(L"pt_BR.UTF-8", 0x0009), kEnglish);
  // German has no table and no neutral one: the user's language decides.
  ExpectTexts(RunChild(L"es_MX.UTF-8", 0x0407), kSpanish);
  // A forced Brazilian Portuguese finds no table of its own either; only the
  // user's language is mapped onto the Portuguese table.
  ExpectTexts(RunChild(L"it_CH.UTF-8", 0x0416), kItalian);
}

TEST(LoadText, IdsWithoutTextAreEmpty) {
  // Ids in the stored blocks that hold no text, and one past them.
  EXPECT_EQ(L"", LoadText(116));
  EXPECT_EQ(L"", LoadText(102));
  EXPECT_EQ(L"", LoadText(96));
  EXPECT_EQ(L"", LoadText(0));
  EXPECT_EQ(L"", LoadText(0xFFFFFFFF));
  // Its block number does not fit a resource id; cut to 16 bits it would be
  // block 7, whose entry 7 is text 103.
  EXPECT_EQ(L"", LoadText(0x100067));
}

TEST(LoadTextForLanguage, UsesThePlatformsNeutralFallbackAndNothingElse) {
  std::wstring text;
  // English (United States) reaches the English table stored as neutral.
  ASSERT_TRUE(LoadTextForLanguage(0x0409, IDS_YES, text));
  EXPECT_EQ(L"Yes", text);
  ASSERT_TRUE(LoadTextForLanguage(0x0410, IDS_LATER, text));
  EXPECT_EQ(L"Pi\u00F9 tardi", text);
  ASSERT_TRUE(LoadTextForLanguage(0x0816, IDS_YES, text));
  EXPECT_EQ(L"Sim", text);

  text = L"unchanged";
  EXPECT_FALSE(LoadTextForLanguage(0x0416, IDS_YES, text));
  EXPECT_FALSE(LoadTextForLanguage(0x0407, IDS_YES, text));
  EXPECT_FALSE(LoadTextForLanguage(0x0409, 116, text));
  EXPECT_FALSE(LoadTextForLanguage(0x0409, 200, text));
  EXPECT_EQ(L"unchanged", text);
}

TEST(ToNarrow, ConvertsExactlyInTheSystemsAnsiCodePageOrNotAtAll) {
  ASSERT_EQ(::GetACP(), 1252u) << "the cases below are written for code page 1252";
  const LCID saved = ::GetThreadLocale();
  // The thread's locale does not count: the narrow functions read the
  // system's code page. Vietnamese (1258) has the d with stroke, 1252 not.
  ASSERT_TRUE(::SetThreadLocale(MAKELCID(0x042A, SORT_DEFAULT)));
  EXPECT_EQ("", ToNarrow(L"C:\\Users\\Nguy\u1EC5n"));
  EXPECT_EQ("", ToNarrow(L"\u0111"));
  ::SetThreadLocale(saved);

  EXPECT_EQ("https://updates.example.com/check?v=1&lang=pt",
            ToNarrow(L"https://updates.example.com/check?v=1&lang=pt"));
  EXPECT_EQ("C:\\Users\\Jos\xE9", ToNarrow(L"C:\\Users\\Jos\u00E9"));
  // No look-alike and no default character: the best-fit mapping would make
  // "Jiri" of "Jiří", naming another folder.
  for (const wchar_t* inexact : {L"C:\\Users\\Ji\u0159\u00ED", L"caf\u00E9 \u4E2D", L"\uFF0Fetc"})
    EXPECT_EQ("", ToNarrow(inexact));

  EXPECT_EQ("", ToNarrow(L""));
  // A NUL ends the text, as it ends any narrow string handed on.
  EXPECT_EQ("ab", ToNarrow(std::wstring(L"ab\0cd", 5)));
}

int wmain(int argc, wchar_t** argv) {
  if (argc == 4 && std::wcscmp(argv[1], kReportOption) == 0) return WriteReport(argv[2], argv[3]);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}

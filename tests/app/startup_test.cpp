// The start-up steps in-process, under the real registry, environment and
// window manager.
#include "app/startup.h"

#include <gtest/gtest.h>
#include <shellapi.h>

#include <cstdlib>

#include "app/globals.h"
#include "platform/module.h"
#include "resources/resource.h"
#include "tests/support/registry.h"
#include "workflow/main_dialog.h"

namespace {

class StartupTest : public ::testing::Test {
 protected:
  void SetUp() override { ResetProgramState(); }
  void TearDown() override { ResetProgramState(); }
};

std::wstring ProcessVariable(const wchar_t* name) {
  wchar_t value[256] = {};
  const DWORD length = ::GetEnvironmentVariableW(name, value, 256);
  return length == 0 || length >= 256 ? L"<unset>" : std::wstring(value, length);
}

std::wstring RuntimeVariable(const wchar_t* name) {
  const wchar_t* value = _wgetenv(name);
  return value ? value : L"<unset>";
}

// The dialog's parameters from a whole command line, split by the platform.
DialogParameters ParametersOf(const wchar_t* commandLine) {
  ArgumentVector vector;
  std::vector<std::wstring> args;
  EXPECT_TRUE(SplitCommandLine(commandLine, vector, args)) << commandLine;
  const OptionScan scan = ScanOptions(args);
  EXPECT_GE(scan.positionalCount, 2u) << commandLine;
  return DialogParametersFrom(args, scan);
}

}  // namespace

using ForcedLanguageTest = StartupTest;
using EnvironmentTest = StartupTest;
using MainDialogTest = StartupTest;

TEST_F(ForcedLanguageTest, OnlyADwordOverridesAndOnlyItsLowWordCounts) {
  EXPECT_EQ(ReadForcedLanguage(), 0);

  SetDword(Hive::Machine, kLanguageKey, "force_lcid", 0x00010010);
  EXPECT_EQ(ReadForcedLanguage(), 0x0010);

  SetDword(Hive::Machine, kLanguageKey, "force_lcid", 0x0416);
  EXPECT_EQ(ReadForcedLanguage(), 0x0416);

  SetString(Hive::Machine, kLanguageKey, "force_lcid", "1046");
  EXPECT_EQ(ReadForcedLanguage(), 0);

  SetBinary(Hive::Machine, kLanguageKey, "force_lcid", {0x16, 0x04, 0x00, 0x00});
  EXPECT_EQ(ReadForcedLanguage(), 0);

  // The user's hive is not consulted.
  DeleteKeyTree(Hive::Machine, kLanguageKey);
  SetDword(Hive::User, kLanguageKey, "force_lcid", 0x0416);
  EXPECT_EQ(ReadForcedLanguage(), 0);
}

TEST_F(EnvironmentTest, UserBlockVariablesAppearAndInheritedOnesStay) {
  SetString(Hive::User, "Environment", "TAVRIN_FROM_BLOCK", "from-block");
  SetString(Hive::User, "Environment", "TAVRIN_REPLACED", "new");
  _wputenv(L"TAVRIN_FROM_BLOCK=");
  _wputenv(L"TAVRIN_REPLACED=old");
  _wputenv(L"TAVRIN_INHERITED=kept");
  ASSERT_EQ(ProcessVariable(L"TAVRIN_FROM_BLOCK"), L"<unset>");

  RefreshEnvironment();

  DeleteValue(Hive::User, "Environment", "TAVRIN_FROM_BLOCK");
  DeleteValue(Hive::User, "Environment", "TAVRIN_REPLACED");
  // Both copies: the platform's (inherited by child processes) and the runtime's.
  EXPECT_EQ(ProcessVariable(L"TAVRIN_FROM_BLOCK"), L"from-block");
  EXPECT_EQ(RuntimeVariable(L"TAVRIN_FROM_BLOCK"), L"from-block");
  EXPECT_EQ(ProcessVariable(L"TAVRIN_REPLACED"), L"new");
  EXPECT_EQ(RuntimeVariable(L"TAVRIN_REPLACED"), L"new");
  EXPECT_EQ(ProcessVariable(L"TAVRIN_INHERITED"), L"kept");
  EXPECT_EQ(RuntimeVariable(L"TAVRIN_INHERITED"), L"kept");
}

namespace {

// A whole command line, split by the platform, and what the dialog gets.
struct ParametersCase {
  const wchar_t* commandLine;
  const wchar_t* checkUrl;
  int pinCertificate;
};

void ExpectParameters(std::initializer_list<ParametersCase> cases) {
  for (const ParametersCase& c : cases) {
    const DialogParameters parameters = ParametersOf(c.commandLine);
    EXPECT_EQ(parameters.checkUrl, c.checkUrl) << c.commandLine;
    EXPECT_EQ(parameters.pinCertificate, c.pinCertificate) << c.commandLine;
  }
}

}  // namespace

TEST(DialogParameters, QuotedAndSpacedArgumentsReachTheDialogTrimmed) {
  ExpectParameters({
      {L"prog \"\" \"  http://u/c  \" \" 1 \"", L"http://u/c", 1},
      {L"prog \"\" http://u/c", L"http://u/c", 0},
      {L"prog /f \"\" \"http://u/?a=\\\"b\\\"\" 01", L"http://u/?a=\"b\"", 0},
      // Two backslashes before a closing quote are one backslash.
      {L"prog \"\" \"http://u/\\\\\" true", L"http://u/\\", 0},
      {L"prog \"\" \"\" 1", L"", 1},
      // Kept as given, whatever the code page: the copy's command lines need it so.
      {L"prog \"\" \"http://u/Ji\u0159\u00ED\" 1", L"http://u/Ji\u0159\u00ED", 1},
  });
}

TEST(DialogParameters, TabsSeparateArgumentsButAreNotTrimmed) {
  ExpectParameters({
      {L"prog\t\"\"\thttp://u\t1", L"http://u", 1},
      {L"prog \"\" \"\thttp://u \" \"1\t\"", L"\thttp://u", 0},
  });
}

TEST(DialogParameters, OptionsShiftThePositionals) {
  ExpectParameters({
      {L"prog \"\" http://u /p", L"/p", 0},
      {L"prog /X \"\" http://u 1", L"http://u", 1},
  });
}

TEST(InstanceMutex, SecondTakeInTheSameSessionIsRefused) {
  ASSERT_TRUE(TakeInstanceMutex());
  HANDLE first = g_instanceMutex;
  EXPECT_FALSE(TakeInstanceMutex());
  ::CloseHandle(g_instanceMutex);
  ::CloseHandle(first);
  g_instanceMutex = nullptr;
  // Once every handle is closed the name is free again.
  EXPECT_TRUE(TakeInstanceMutex());
  ::CloseHandle(g_instanceMutex);
  g_instanceMutex = nullptr;
}

TEST_F(MainDialogTest, StubIsCreatedHiddenAndEndsTheLoopWithOne) {
  CMainDialog dialog(L"http://u/c", 1);
  EXPECT_EQ(dialog.CheckUrl(), "http://u/c");
  // A URL the ANSI code page cannot hold is never asked as a look-alike.
  EXPECT_EQ(CMainDialog(L"http://u/Ji\u0159\u00ED", 1).CheckUrl(), "");
  EXPECT_EQ(dialog.PinCertificate(), 1);
  HWND window = dialog.Create(nullptr, IDD_MAIN_DIALOG);
  ASSERT_NE(window, nullptr);
  EXPECT_EQ(dialog.WindowHandle(), window);
  EXPECT_FALSE(::IsWindowVisible(window));
  EXPECT_EQ(RunMessageLoop(), 1);
  EXPECT_EQ(dialog.ExitCode(), 1);
  EXPECT_FALSE(::IsWindow(window));
  EXPECT_EQ(dialog.WindowHandle(), nullptr);
}

TEST_F(MainDialogTest, RunEndsWithTheDialogsExitCode) {
  EXPECT_EQ(RunMainDialog(DialogParameters{L"http://u/c", 0}), 1);
}

int wmain(int argc, wchar_t** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}

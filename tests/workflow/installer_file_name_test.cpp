#include "workflow/installer_file_name.h"

#include <gtest/gtest.h>

TEST(InstallerName, AppendsTheSuffixThatMakesItAProgram) {
  EXPECT_EQ(InstallerName("C:\\p\\dexA1.tmp"), "C:\\p\\dexA1.tmp-middleware.exe");
  EXPECT_EQ(InstallerName(L"C:\\Ji\u0159\u00ED\\dexA1.tmp"),
            L"C:\\Ji\u0159\u00ED\\dexA1.tmp-middleware.exe");
}

TEST(IsInstallerFileName, KnowsOurTemporaryAndInstallerNamesAndNothingElse) {
  for (const char* ours : {"dex1.tmp", "dexFFFF.tmp", "dexa1b2.tmp-middleware.exe",
                           "DEX9.TMP-MIDDLEWARE.EXE", "dex0.tmp-middleware.exe"}) {
    EXPECT_TRUE(IsInstallerFileName(ours)) << ours;
  }
  for (const char* theirs :
       {"dex.tmp", "dex12345.tmp", "dexG1.tmp", "dex1.tmp-middleware.exe.bak", "dex1.tmpx",
        "dex1.tmp-other.exe", "xdex1.tmp", "de1.tmp", "dex1.exe", "notes.txt", ""}) {
    EXPECT_FALSE(IsInstallerFileName(theirs)) << theirs;
  }
  // Wide names as the folder search gives them: ours are ASCII.
  EXPECT_TRUE(IsInstallerFileName(L"dexA1.tmp-middleware.exe"));
  EXPECT_FALSE(IsInstallerFileName(L"dex\u0661.tmp"));  // an Arabic-Indic digit one
  EXPECT_FALSE(IsInstallerFileName(std::wstring(L"dex1.tmp\0", 9)));
}

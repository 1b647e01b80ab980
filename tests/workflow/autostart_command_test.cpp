#include "workflow/autostart_command.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/workflow/command_line_split.h"

namespace {

using Args = std::vector<std::string>;

const char kCopy[] = "C:\\Users\\Ann Lee\\AppData\\Roaming\\tavrin\\brenlo\\tavrin-corvel.exe";

// Fields that only survive the split when quoted with care.
const char* const kHostileFields[] = {
    "",
    " ",
    "\t",
    "a b\tc",
    "\"",
    "\"\"",
    "a\"b",
    "\"quoted\"",
    "\\",
    "\\\\",
    "trailing\\",
    "trailing\\\\\\",
    "\\\"",
    "a\\\"b",
    "a\\\\\"b",
    "a\\\\\\\"b",
    "\\\\server\\share\\",
    "http://h/p?q=\"x y\"\\",
    "\"\\ \\\"",
    "caf\xe9 \xff\x80",
};

}  // namespace

TEST(QuoteArgument, HostileFieldsSurviveTheSplit) {
  for (const char* field : kHostileFields) {
    EXPECT_EQ(SplitCommandLine("prog " + QuoteArgument(field)), (Args{"prog", field}))
        << "[" << field << "] quoted as " << QuoteArgument(field);
  }
}

TEST(QuoteArgument, BackslashesAreDoubledOnlyBeforeQuotes) {
  EXPECT_EQ(QuoteArgument("C:\\a b\\c"), "\"C:\\a b\\c\"");
  EXPECT_EQ(QuoteArgument("a\\"), "\"a\\\\\"");
  EXPECT_EQ(QuoteArgument("a\\\"b"), "\"a\\\\\\\"b\"");
  EXPECT_EQ(QuoteArgument(""), "\"\"");
}

TEST(AutostartCommand, OrdinaryFieldsGiveTheFourQuotedFieldsExactly) {
  EXPECT_EQ(AutostartCommand(kCopy, "https://updates.example.com/check?v=2&id=a%20b", true),
            "\"C:\\Users\\Ann Lee\\AppData\\Roaming\\tavrin\\brenlo\\tavrin-corvel.exe\" \"\" "
            "\"https://updates.example.com/check?v=2&id=a%20b\" \"1\"");
  EXPECT_EQ(AutostartCommand("D:\\x.exe", "http://127.0.0.1:8080/check", false),
            "\"D:\\x.exe\" \"\" \"http://127.0.0.1:8080/check\" \"0\"");
  EXPECT_EQ(AutostartCommand("D:\\x.exe", "", false), "\"D:\\x.exe\" \"\" \"\" \"0\"");
}

TEST(AutostartCommand, RelaunchParametersAreTheThreeQuotedFieldsExactly) {
  EXPECT_EQ(RelaunchParameters("https://updates.example.com/check", true),
            "\"\" \"https://updates.example.com/check\" \"1\"");
  EXPECT_EQ(RelaunchParameters("http://h/c", false), "\"\" \"http://h/c\" \"0\"");
}

TEST(AutostartCommand, HostileUrlsAndPathsSplitBackIntoTheSameArguments) {
  const char* const paths[] = {kCopy, "C:\\dir with space\\", "\\\\server\\share\\x.exe", "a\tb"};
  for (const char* path : paths) {
    for (const char* url : kHostileFields) {
      for (const bool pin : {true, false}) {
        const Args expected = {path, "", url, pin ? "1" : "0"};
        const std::string command = AutostartCommand(path, url, pin);
        EXPECT_EQ(SplitCommandLine(command), expected) << command;
        // The relaunch puts the copy's path in front of its parameters.
        EXPECT_EQ(SplitCommandLine("\"" + std::string(path) + "\" " + RelaunchParameters(url, pin)),
                  expected)
            << RelaunchParameters(url, pin);
      }
    }
  }
}

TEST(AutostartCommand, RefusesAPathThatCannotBeQuoted) {
  EXPECT_EQ(AutostartCommand("", "http://h/c", true), "");
  EXPECT_EQ(AutostartCommand("C:\\a\"b.exe", "http://h/c", true), "");
  EXPECT_EQ(AutostartCommand("\"", "http://h/c", true), "");
}

TEST(AutostartCommand, RefusesACommandTooLongForAProcessRatherThanCuttingIt) {
  // "\"p\" \"\" \"" + url + "\" \"1\"" is the URL plus 13 bytes.
  const std::string fits(kMaxCommandLine - 13, 'u');
  EXPECT_EQ(AutostartCommand("p", fits, true).size(), kMaxCommandLine);
  EXPECT_EQ(AutostartCommand("p", fits + "u", true), "");
  // A trailing backslash is doubled, and the doubling counts.
  EXPECT_EQ(AutostartCommand("p", fits.substr(1) + "\\", true), "");
}

TEST(AutostartCommand, RelaunchParametersLeaveRoomForTheProgramPath) {
  // "\"\" \"" + url + "\" \"1\"" is the URL plus 9 bytes.
  const std::string fits(kMaxCommandLine - kProgramFieldRoom - 9, 'u');
  EXPECT_EQ(RelaunchParameters(fits, false).size(), kMaxCommandLine - kProgramFieldRoom);
  EXPECT_EQ(RelaunchParameters(fits + "u", false), "");
}

TEST(AutostartCommand, WideTextIsQuotedAsNarrowTextIs) {
  // Letters outside any ANSI code page pass through as they are.
  const std::wstring copy = L"C:\\Users\\Ji\u0159\u00ED Nguy\u1EC5n\\AppData\\Roaming\\x.exe";
  const std::wstring url = L"http://h/c?q=\"\u0159\"\\";
  EXPECT_EQ(AutostartCommand(copy, url, true),
            L"\"" + copy + L"\" \"\" \"http://h/c?q=\\\"\u0159\\\"\\\\\" \"1\"");
  EXPECT_EQ(RelaunchParameters(url, false), L"\"\" \"http://h/c?q=\\\"\u0159\\\"\\\\\" \"0\"");
  for (const char* field : kHostileFields) {
    const std::string narrow = QuoteArgument(std::string(field));
    const std::wstring wide = QuoteArgument(std::wstring(field, field + strlen(field)));
    EXPECT_EQ(wide, std::wstring(narrow.begin(), narrow.end())) << field;
  }
}

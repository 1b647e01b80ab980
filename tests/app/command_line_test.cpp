#include "app/command_line.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using Args = std::vector<std::wstring>;

std::wstring PositionalOrMissing(const Args& args, const OptionScan& scan, size_t k) {
  const std::wstring* value = Positional(args, scan, k);
  return value ? *value : L"<missing>";
}

}  // namespace

TEST(OptionScan, OptionsBeforePositionalsAreCountedAndSkipped) {
  const Args args = {L"prog", L"/f", L"/p", L"", L"http://u", L"1"};
  const OptionScan scan = ScanOptions(args);
  EXPECT_TRUE(scan.forceCheck);
  EXPECT_TRUE(scan.quietStart);
  EXPECT_EQ(scan.optionCount, 2u);
  EXPECT_EQ(scan.positionalCount, 3u);
  EXPECT_EQ(PositionalOrMissing(args, scan, 1), L"");
  EXPECT_EQ(PositionalOrMissing(args, scan, 2), L"http://u");
  EXPECT_EQ(PositionalOrMissing(args, scan, 3), L"1");
  EXPECT_EQ(PositionalOrMissing(args, scan, 4), L"<missing>");
  EXPECT_EQ(PositionalOrMissing(args, scan, 0), L"<missing>");
}

TEST(OptionScan, LetterIsTheSecondCharacterComparedCaseSensitively) {
  struct Case {
    const wchar_t* option;
    bool force, quiet;
  };
  for (const Case& c :
       {Case{L"/f", true, false}, Case{L"/p", false, true}, Case{L"/fx", true, false},
        Case{L"/pf", false, true}, Case{L"/F", false, false}, Case{L"/P", false, false},
        Case{L"/", false, false}, Case{L"/x", false, false}}) {
    const Args args = {L"prog", c.option, L"", L"url"};
    const OptionScan scan = ScanOptions(args);
    EXPECT_EQ(scan.forceCheck, c.force) << c.option;
    EXPECT_EQ(scan.quietStart, c.quiet) << c.option;
    // Recognised or not, every option is counted and shifts the positionals.
    EXPECT_EQ(scan.optionCount, 1u) << c.option;
    EXPECT_EQ(PositionalOrMissing(args, scan, 2), L"url") << c.option;
  }
}

TEST(OptionScan, EmptyArgumentsAndPlainTextAreNeverOptions) {
  const Args args = {L"prog", L"", L"x/f", L" /f", L""};
  const OptionScan scan = ScanOptions(args);
  EXPECT_FALSE(scan.forceCheck);
  EXPECT_EQ(scan.optionCount, 0u);
  EXPECT_EQ(scan.positionalCount, 4u);
}

TEST(OptionScan, RepeatedOptionActsOnceButCountsTwice) {
  const Args args = {L"prog", L"/f", L"/f", L"", L"url"};
  const OptionScan scan = ScanOptions(args);
  EXPECT_TRUE(scan.forceCheck);
  EXPECT_EQ(scan.optionCount, 2u);
  EXPECT_EQ(scan.positionalCount, 2u);
  EXPECT_EQ(PositionalOrMissing(args, scan, 2), L"url");
}

TEST(OptionScan, OptionAfterPositionalTwoBecomesTheUrl) {
  const Args args = {L"prog", L"", L"http://u", L"/f"};
  const OptionScan scan = ScanOptions(args);
  EXPECT_TRUE(scan.forceCheck);
  EXPECT_EQ(scan.optionCount, 1u);
  EXPECT_EQ(scan.positionalCount, 2u);
  EXPECT_EQ(PositionalOrMissing(args, scan, 1), L"http://u");
  EXPECT_EQ(PositionalOrMissing(args, scan, 2), L"/f");
}

TEST(OptionScan, ArgumentsBeyondTheShrinkingCountAreNotExamined) {
  // The leading option lowers the count to 5, so index 5 is never visited.
  const Args args = {L"prog", L"/x", L"", L"http://u", L"1", L"/f"};
  const OptionScan scan = ScanOptions(args);
  EXPECT_FALSE(scan.forceCheck);
  EXPECT_EQ(scan.optionCount, 1u);
  EXPECT_EQ(scan.positionalCount, 4u);
  EXPECT_EQ(PositionalOrMissing(args, scan, 3), L"1");

  // Right after positional 3, with no option before it, it is still seen,
  // and it takes the place of positional 3.
  const Args late = {L"prog", L"", L"http://u", L"1", L"/f"};
  const OptionScan lateScan = ScanOptions(late);
  EXPECT_TRUE(lateScan.forceCheck);
  EXPECT_EQ(PositionalOrMissing(late, lateScan, 2), L"1");
  EXPECT_EQ(PositionalOrMissing(late, lateScan, 3), L"/f");
}

TEST(OptionScan, TooFewArgumentsLeaveFewerThanTwoPositionals) {
  EXPECT_EQ(ScanOptions({L"prog"}).positionalCount, 0u);
  EXPECT_EQ(ScanOptions({L"prog", L""}).positionalCount, 1u);
  EXPECT_EQ(ScanOptions({L"prog", L"/f"}).positionalCount, 0u);
  EXPECT_EQ(ScanOptions({L"prog", L"/f", L"", L"u"}).positionalCount, 2u);
  const OptionScan none = ScanOptions({});
  EXPECT_EQ(none.positionalCount, 0u);
  EXPECT_EQ(none.optionCount, 0u);
}

TEST(TrimSpaces, RemovesOnlyLeadingAndTrailingBlanks) {
  EXPECT_EQ(TrimSpaces(L"  http://u  "), L"http://u");
  EXPECT_EQ(TrimSpaces(L"a b"), L"a b");
  EXPECT_EQ(TrimSpaces(L"\thttp://u\t"), L"\thttp://u\t");
  EXPECT_EQ(TrimSpaces(L" \t x \t "), L"\t x \t");
  EXPECT_EQ(TrimSpaces(L"   "), L"");
  EXPECT_EQ(TrimSpaces(L""), L"");
  EXPECT_EQ(TrimSpaces(L"x"), L"x");
}

TEST(PinSwitch, OnlyTheWholeTextOneAfterTrimmingTurnsItOn) {
  const std::wstring on[] = {L"1", L" 1 ", L"   1"};
  for (const std::wstring& text : on) EXPECT_TRUE(PinSwitchOn(&text)) << text;
  const std::wstring off[] = {L"01", L"true", L"1\t", L"\t1", L"", L"0", L"11", L"1 1"};
  for (const std::wstring& text : off) EXPECT_FALSE(PinSwitchOn(&text)) << text;
  EXPECT_FALSE(PinSwitchOn(nullptr));
}

#include "workflow/release_statement.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

namespace {

const std::string kHash(64, 'a');

std::string Statement(const std::string& version, const std::string& length,
                      const std::string& sha256, const std::string& sequence) {
  return "tavrin-release-statement 1\nproduct tavrin-middleware\nversion " + version +
         "\nlength " + length + "\nsha256 " + sha256 + "\nsequence " + sequence + "\n";
}

bool Parses(const std::string& text, ReleaseStatement* out = nullptr) {
  ReleaseStatement statement;
  const bool parsed = ParseReleaseStatement(reinterpret_cast<const std::uint8_t*>(text.data()),
                                            text.size(), statement);
  if (out) *out = statement;
  return parsed;
}

}  // namespace

TEST(ReleaseStatement, ReadsTheSixLinesAtTheirLimits) {
  ReleaseStatement s;
  ASSERT_TRUE(Parses(Statement("2.0.1-rc.1+b7", "1", kHash, "1"), &s));
  EXPECT_EQ(s.version, "2.0.1-rc.1+b7");
  EXPECT_EQ(s.length, 1u);
  EXPECT_EQ(s.sha256, kHash);
  EXPECT_EQ(s.sequence, 1u);
  ASSERT_TRUE(Parses(Statement(std::string(32, 'Z'), "9999999999999999999",
                               "0123456789abcdef0123456789abcdef0123456789abcdef0123456789abcdef",
                               "4294967295"),
                     &s));
  EXPECT_EQ(s.length, 9999999999999999999u);
  EXPECT_EQ(s.sequence, 4294967295u);
}

TEST(ReleaseStatement, RefusesEveryOtherForm) {
  const std::string good = Statement("2.0", "4096", kHash, "7");
  const struct {
    const char* what;
    std::string text;
  } rows[] = {
      {"empty", ""},
      {"another format", "tavrin-release-statement 2" + good.substr(26)},
      {"another product", good.substr(0, 27) + "product tavrin-other\n" + good.substr(53)},
      {"CRLF", Statement("2.0", "4096", kHash, "7\r")},
      {"no LF at the end", good.substr(0, good.size() - 1)},
      {"a seventh line", good + "note x\n"},
      {"an empty line at the end", good + "\n"},
      {"two spaces", Statement(" 2.0", "4096", kHash, "7")},
      {"lines out of order",
       "tavrin-release-statement 1\nproduct tavrin-middleware\nlength 4096\nversion 2.0\nsha256 " +
           kHash + "\nsequence 7\n"},
      {"no version", Statement("", "4096", kHash, "7")},
      {"a version of 33", Statement(std::string(33, '1'), "4096", kHash, "7")},
      {"a version with a slash", Statement("2.0/x", "4096", kHash, "7")},
      {"length 0", Statement("2.0", "0", kHash, "7")},
      {"a leading zero", Statement("2.0", "04096", kHash, "7")},
      {"a length of 20 digits", Statement("2.0", "10000000000000000000", kHash, "7")},
      {"a signed length", Statement("2.0", "+4096", kHash, "7")},
      {"uppercase hex", Statement("2.0", "4096", std::string(64, 'A'), "7")},
      {"63 hex digits", Statement("2.0", "4096", std::string(63, 'a'), "7")},
      {"65 hex digits", Statement("2.0", "4096", std::string(65, 'a'), "7")},
      {"sequence 0", Statement("2.0", "4096", kHash, "0")},
      {"sequence 2^32", Statement("2.0", "4096", kHash, "4294967296")},
      {"a sequence of 11 digits", Statement("2.0", "4096", kHash, "10000000000")},
      {"a NUL inside", Statement("2.0", std::string("40\0" "96", 5), kHash, "7")},
      {"an installer", "MZ\x90\0" + good},
      {"past 1024 bytes", Statement("2.0", "4096", kHash, "7") + std::string(1100, 'x')},
  };
  for (const auto& row : rows) EXPECT_FALSE(Parses(row.text)) << row.what;
}

TEST(ReleaseStatement, FollowsOnlyAHigherSequenceOrTheSameInstallerAgain) {
  ReleaseStatement s;
  s.sequence = 5;
  s.sha256 = kHash;
  const std::string other(64, 'b');
  const struct {
    AcceptedRelease accepted;
    bool follows;
  } rows[] = {
      {{false, 0, ""}, true},
      {{false, 9, other}, true},  // nothing kept, whatever the rest says
      {{true, 4, other}, true},
      {{true, 5, kHash}, true},
      {{true, 5, other}, false},  // another installer under a used sequence
      {{true, 6, kHash}, false},  // an older release replayed
      {{true, 0xFFFFFFFF, kHash}, false},
  };
  for (const auto& row : rows)
    EXPECT_EQ(ReleaseFollows(s, row.accepted), row.follows)
        << row.accepted.known << " " << row.accepted.sequence;
  const std::uint8_t digest[32] = {0x00, 0x01, 0xab, 0xff};
  EXPECT_EQ(Sha256Hex(digest), "0001abff" + std::string(56, '0'));
}

#include "text/language.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

using Languages = std::vector<std::uint16_t>;

TEST(TextLanguage, UserLanguageMapsByPrimaryLanguageOnly) {
  // Spanish (Mexico), Portuguese (Brazil), Italian (Switzerland) and
  // English (United Kingdom) reach the tables that are stored.
  EXPECT_EQ(0x040A, MapUserLanguage(0x080A));
  EXPECT_EQ(0x040A, MapUserLanguage(0x000A));
  EXPECT_EQ(0x0816, MapUserLanguage(0x0416));
  EXPECT_EQ(0x0816, MapUserLanguage(0x0816));
  EXPECT_EQ(0x0410, MapUserLanguage(0x0810));
  EXPECT_EQ(0x0409, MapUserLanguage(0x0809));
  // Others stay as they are, sub-language included: Vietnamese matches its
  // table exactly, German has none.
  EXPECT_EQ(0x042A, MapUserLanguage(0x042A));
  EXPECT_EQ(0x0407, MapUserLanguage(0x0407));
  EXPECT_EQ(0x0C07, MapUserLanguage(0x0C07));
  EXPECT_EQ(0x2C01, MapUserLanguage(0x2C01));
  // Only the low ten bits are the primary language: 0x0409 with the high
  // bits set to another sub-language is still English.
  EXPECT_EQ(0x0409, MapUserLanguage(0xFC09));
  EXPECT_EQ(0x0000, MapUserLanguage(0x0000));
}

TEST(TextLanguage, CandidatesComeInFixedOrder) {
  EXPECT_EQ((Languages{0x0816, 0x0416, 0x0407, 0x0400, 0x0409}),
            TextLanguageCandidates(0, 0x0416, 0x0407));
  EXPECT_EQ((Languages{0x042A, 0x042A, 0x0409, 0x0400, 0x0409}),
            TextLanguageCandidates(0, 0x042A, 0x0409));
}

TEST(TextLanguage, ForcedLanguageComesFirstOnlyWhenSet) {
  EXPECT_EQ((Languages{0x0010, 0x040A, 0x080A, 0x080A, 0x0400, 0x0409}),
            TextLanguageCandidates(0x0010, 0x080A, 0x080A));
  // A forced language without a table stays in the list; the lookup skips it.
  EXPECT_EQ((Languages{0x0407, 0x0410, 0x0810, 0x0409, 0x0400, 0x0409}),
            TextLanguageCandidates(0x0407, 0x0810, 0x0409));
  EXPECT_EQ(5u, TextLanguageCandidates(0, 0x0407, 0x0407).size());
}

#include "text/string_table.h"

#include <gtest/gtest.h>

#include <initializer_list>
#include <vector>

namespace {

// A block laid out as the resource compiler writes it: a little-endian count
// and the code units for each entry in turn.
std::vector<unsigned char> Block(std::initializer_list<std::u16string> entries) {
  std::vector<unsigned char> bytes;
  auto put = [&bytes](unsigned unit) {
    bytes.push_back(static_cast<unsigned char>(unit & 0xFF));
    bytes.push_back(static_cast<unsigned char>(unit >> 8));
  };
  for (const std::u16string& entry : entries) {
    put(static_cast<unsigned>(entry.size()));
    for (char16_t unit : entry) put(unit);
  }
  return bytes;
}

std::vector<unsigned char> FullBlock() {
  return Block({u"", u"", u"", u"", u"", u"", u"", u"Tavrin", u"", u"L\u00E0 \u0111\u1EE3i",
                u"two\nlines", u"", u"", u"", u"", u"last"});
}

}  // namespace

TEST(StringTableEntry, FindsEachEntryByIdModSixteen) {
  const std::vector<unsigned char> block = FullBlock();
  std::u16string text;
  ASSERT_TRUE(FindStringTableEntry(block.data(), block.size(), 103, text));
  EXPECT_EQ(u"Tavrin", text);
  // Non-ASCII code units and the line break come through unchanged.
  ASSERT_TRUE(FindStringTableEntry(block.data(), block.size(), 105, text));
  EXPECT_EQ(u"L\u00E0 \u0111\u1EE3i", text);
  ASSERT_TRUE(FindStringTableEntry(block.data(), block.size(), 106, text));
  EXPECT_EQ(u"two\nlines", text);
  ASSERT_TRUE(FindStringTableEntry(block.data(), block.size(), 111, text));
  EXPECT_EQ(u"last", text);
  // Only id mod 16 matters: the block number was chosen by the caller.
  ASSERT_TRUE(FindStringTableEntry(block.data(), block.size(), 7, text));
  EXPECT_EQ(u"Tavrin", text);
}

TEST(StringTableEntry, EmptyEntryCountsAsMissingAndLeavesTextAlone) {
  const std::vector<unsigned char> block = FullBlock();
  std::u16string text = u"unchanged";
  EXPECT_FALSE(FindStringTableEntry(block.data(), block.size(), 96, text));
  EXPECT_FALSE(FindStringTableEntry(block.data(), block.size(), 104, text));
  EXPECT_FALSE(FindStringTableEntry(block.data(), block.size(), 110, text));
  EXPECT_EQ(u"unchanged", text);
}

TEST(StringTableEntry, BlockEndingBeforeTheWantedEntryIsMissing) {
  // Only the first eight entries are present; the walk must stop at the end.
  const std::vector<unsigned char> block = Block({u"a", u"", u"", u"", u"", u"", u"", u"Tavrin"});
  std::u16string text = u"unchanged";
  EXPECT_FALSE(FindStringTableEntry(block.data(), block.size(), 8, text));
  EXPECT_FALSE(FindStringTableEntry(block.data(), block.size(), 15, text));
  EXPECT_EQ(u"unchanged", text);
  ASSERT_TRUE(FindStringTableEntry(block.data(), block.size(), 7, text));
  EXPECT_EQ(u"Tavrin", text);
}

TEST(StringTableEntry, HostileBlocksNeverReadPastTheEnd) {
  // Each case is copied into a vector of exactly its size, so that the
  // address sanitizer catches a read of even one byte too many.
  std::u16string text = u"unchanged";
  auto find = [&text](std::vector<unsigned char> bytes, unsigned id) {
    return FindStringTableEntry(bytes.data(), bytes.size(), id, text);
  };

  std::vector<unsigned char> block = Block({u"abc"});
  // The last code unit cut in half: odd size.
  EXPECT_FALSE(find(std::vector<unsigned char>(block.begin(), block.end() - 1), 0));
  // Only one byte of the count.
  EXPECT_FALSE(find({0x03}, 0));
  // Nothing at all.
  EXPECT_FALSE(find({}, 0));
  EXPECT_FALSE(FindStringTableEntry(nullptr, 0, 0, text));
  // A count that claims more code units than the block holds.
  EXPECT_FALSE(find({0xFF, 0xFF, 'a', 0}, 0));
  // A skipped entry whose count runs past the end, so the wanted one would
  // start outside the block.
  EXPECT_FALSE(find({0x10, 0x00, 'a', 0, 0x01, 0x00, 'b', 0}, 1));
  // A skipped entry ending exactly at the end: nothing left to read a count from.
  EXPECT_FALSE(find({0x01, 0x00, 'a', 0}, 1));
  // The wanted entry's count split by the end of an odd-sized block.
  EXPECT_FALSE(find({0x01, 0x00, 'a', 0, 0x01}, 1));
  // Sixteen maximal counts in a small block: the offsets must not wrap.
  EXPECT_FALSE(find(std::vector<unsigned char>(64, 0xFF), 15));
  EXPECT_EQ(u"unchanged", text);

  // The same bytes with one more byte make a whole block again.
  EXPECT_TRUE(find({0x01, 0x00, 'a', 0, 0x01, 0x00, 'b', 0}, 1));
  EXPECT_EQ(u"b", text);
}

#include "http/http_text.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>
#include <vector>

TEST(ParseLeadingNumber, ReadsLikeAtol) {
  EXPECT_EQ(ParseLeadingNumber("1305"), 1305);
  EXPECT_EQ(ParseLeadingNumber("0"), 0);
  EXPECT_EQ(ParseLeadingNumber(" \t\r\n\v\f42"), 42);
  EXPECT_EQ(ParseLeadingNumber("+7"), 7);
  EXPECT_EQ(ParseLeadingNumber("-12"), -12);
  EXPECT_EQ(ParseLeadingNumber("404 Not Found"), 404);
  EXPECT_EQ(ParseLeadingNumber("12abc34"), 12);
  EXPECT_EQ(ParseLeadingNumber("007"), 7);
}

TEST(ParseLeadingNumber, IsZeroWithoutDigits) {
  EXPECT_EQ(ParseLeadingNumber(nullptr), 0);
  EXPECT_EQ(ParseLeadingNumber(""), 0);
  EXPECT_EQ(ParseLeadingNumber("abc"), 0);
  EXPECT_EQ(ParseLeadingNumber("-"), 0);
  EXPECT_EQ(ParseLeadingNumber("+-5"), 0);
  EXPECT_EQ(ParseLeadingNumber("x 5"), 0);
}

TEST(ParseLeadingNumber, SaturatesAtThirtyTwoBitsAsWindowsAtolDoes) {
  constexpr int32_t kMax = std::numeric_limits<int32_t>::max();
  constexpr int32_t kMin = std::numeric_limits<int32_t>::min();
  EXPECT_EQ(ParseLeadingNumber("2147483646"), kMax - 1);
  EXPECT_EQ(ParseLeadingNumber("2147483647"), kMax);
  EXPECT_EQ(ParseLeadingNumber("2147483648"), kMax);
  EXPECT_EQ(ParseLeadingNumber("4294967296"), kMax);
  EXPECT_EQ(ParseLeadingNumber("-2147483648"), kMin);
  EXPECT_EQ(ParseLeadingNumber("-2147483649"), kMin);
  EXPECT_EQ(ParseLeadingNumber("-9223372036854775809"), kMin);
  EXPECT_EQ(ParseLeadingNumber("99999999999999999999999999999999 trailing"), kMax);
}

TEST(StatusIs, ComparesTheWholeText) {
  EXPECT_TRUE(StatusIs("200", "200"));
  EXPECT_TRUE(StatusIs("303", "303"));
  EXPECT_FALSE(StatusIs("2000", "200"));
  EXPECT_FALSE(StatusIs("200 ", "200"));
  EXPECT_FALSE(StatusIs(" 200", "200"));
  EXPECT_FALSE(StatusIs("20", "200"));
  EXPECT_FALSE(StatusIs("", "200"));
  EXPECT_FALSE(StatusIs(nullptr, "200"));
}

TEST(BodyBlockSize, RefusesWhatNoBlockCanHold) {
  uint32_t size = 123;
  EXPECT_FALSE(BodyBlockSize(-1, size));
  EXPECT_FALSE(BodyBlockSize(std::numeric_limits<int32_t>::min(), size));
  EXPECT_FALSE(BodyBlockSize(ParseLeadingNumber("4000000000"), size));
  EXPECT_FALSE(BodyBlockSize(ParseLeadingNumber("2147483648"), size));
  EXPECT_EQ(size, 123u) << "a refused length must not be handed out";

  ASSERT_TRUE(BodyBlockSize(0, size));
  EXPECT_EQ(size, 0u);
  ASSERT_TRUE(BodyBlockSize(std::numeric_limits<int32_t>::max() - 1, size));
  EXPECT_EQ(size, 2147483646u);
}

TEST(ExtraHeaderText, StartsWithContentTypeAndJoinsWithLineFeeds) {
  EXPECT_EQ(ExtraHeaderText({}), "Content-Type: text/html");
  EXPECT_EQ(ExtraHeaderText({{"X-Last-Installed-Update", "2024.1"}}),
            "Content-Type: text/html\nX-Last-Installed-Update: 2024.1");
}

TEST(ExtraHeaderText, OrdersNamesByBytesWhateverTheInsertionOrder) {
  HeaderMap headers;
  headers["b"] = "2";
  headers["X-Last-Installed-Update"] = "old";
  headers["A"] = "1";
  headers["a"] = "3";
  headers["X-Last-Installed-Update"] = "new";
  // Upper case sorts before lower case; names differing in case stay apart.
  EXPECT_EQ(ExtraHeaderText(headers),
            "Content-Type: text/html\nA: 1\nX-Last-Installed-Update: new\na: 3\nb: 2");
}

TEST(AbsoluteLocation, WritesSchemeServerAndAlwaysThePort) {
  EXPECT_EQ(AbsoluteLocation(true, "updates.example", 443, "/get/setup.exe"),
            "https://updates.example:443/get/setup.exe");
  EXPECT_EQ(AbsoluteLocation(true, "updates.example", 443, "get/setup.exe"),
            "https://updates.example:443/get/setup.exe");
  EXPECT_EQ(AbsoluteLocation(false, "127.0.0.1", 80, "/x?y=1"), "http://127.0.0.1:80/x?y=1");
  EXPECT_EQ(AbsoluteLocation(false, "h", 65535, "a"), "http://h:65535/a");
  EXPECT_EQ(AbsoluteLocation(false, "h", 8080, ""), "http://h:8080/");
}

TEST(AbsoluteLocation, KeepsALongLocationWhole) {
  const std::string longPath(20000, 'p');
  const std::string url = AbsoluteLocation(true, "h", 8443, longPath);
  EXPECT_EQ(url, "https://h:8443/" + longPath);
  const std::string fullBlock(10239, 'q');
  EXPECT_EQ(AbsoluteLocation(false, "server.example", 80, "/" + fullBlock),
            "http://server.example:80/" + fullBlock);
}

namespace {

ByteSpan Span(const std::vector<uint8_t>& bytes) { return {bytes.data(), bytes.size()}; }

}  // namespace

TEST(LeafIsPinned, OnlyTheServersOwnCertificateCounts) {
  const std::vector<uint8_t> pinned = {0x30, 0x82, 0x05, 0x15, 1, 2, 3, 4};
  const std::vector<uint8_t> copy = pinned;  // other storage, same bytes
  const std::vector<uint8_t> leaf = {0x30, 0x82, 0x01, 0x00, 9, 9};
  const std::vector<uint8_t> root = {0x30, 0x03, 7, 7, 7};
  EXPECT_TRUE(LeafIsPinned({Span(copy)}, Span(pinned)));
  EXPECT_TRUE(LeafIsPinned({Span(copy), Span(root)}, Span(pinned)));
  // A public certificate anyone can send along behind a leaf of their own.
  EXPECT_FALSE(LeafIsPinned({Span(leaf), Span(copy)}, Span(pinned)));
  EXPECT_FALSE(LeafIsPinned({Span(leaf), Span(root), Span(copy)}, Span(pinned)));
}

TEST(LeafIsPinned, RejectsNearCopies) {
  const std::vector<uint8_t> pinned = {0x30, 0x82, 0x05, 0x15, 1, 2, 3, 4};
  std::vector<uint8_t> lastByte = pinned;
  lastByte.back() ^= 1;
  std::vector<uint8_t> firstByte = pinned;
  firstByte.front() ^= 0x80;
  const std::vector<uint8_t> prefix(pinned.begin(), pinned.end() - 1);
  std::vector<uint8_t> longer = pinned;
  longer.push_back(0);
  EXPECT_FALSE(LeafIsPinned({Span(lastByte)}, Span(pinned)));
  EXPECT_FALSE(LeafIsPinned({Span(firstByte)}, Span(pinned)));
  EXPECT_FALSE(LeafIsPinned({Span(prefix)}, Span(pinned)));
  EXPECT_FALSE(LeafIsPinned({Span(longer)}, Span(pinned)));
  EXPECT_FALSE(LeafIsPinned({}, Span(pinned)));
}

TEST(LeafIsPinned, AnEmptyPinMatchesNothing) {
  const std::vector<uint8_t> empty;
  const std::vector<uint8_t> some = {1};
  EXPECT_FALSE(LeafIsPinned({Span(empty), Span(some)}, Span(empty)));
  EXPECT_FALSE(LeafIsPinned({ByteSpan{}}, ByteSpan{}));
}

TEST(ProxyBypassed, EntriesWildcardsAndLocalNames) {
  struct Case {
    const char* bypass;
    const char* host;
    bool direct;
  };
  const Case cases[] = {
      {"localhost", "LocalHost", true},
      {"intranet;*.corp.example", "updates.corp.example", true},
      {"*.corp.example", "corp.example", false},
      {"  10.*  ;; <LOCAL> ", "10.0.0.1", true},
      {"<local>", "updates", true},
      {"<local>", "updates.example", false},
      {"updates.example", "updates.example.evil", false},
      {"*", "anything", true},
      {"a*b*c", "aXbYbZc", true},
      {"a*b*c", "aXbYbZ", false},
      {"", "updates", false},
      {"updates", "", false},
  };
  for (const Case& c : cases) EXPECT_EQ(ProxyBypassed(c.bypass, c.host), c.direct) << c.bypass;
}

TEST(BodyPace, EndsABodyThatBringsLessThanAWindowIn60Seconds) {
  BodyPace trickle(1000);
  for (uint64_t at = 1000; at <= 61000; at += 5000) EXPECT_TRUE(trickle.Arrived(at, 4)) << at;
  EXPECT_FALSE(trickle.Arrived(61001, 4));

  // Each 16 KiB, however late in its window, opens the next one.
  BodyPace steady(0);
  EXPECT_TRUE(steady.Arrived(59000, BodyPace::kWindowBytes - 1));
  EXPECT_TRUE(steady.Arrived(60000, 1));
  EXPECT_TRUE(steady.Arrived(120000, 4));
  EXPECT_FALSE(steady.Arrived(120001, 4 * BodyPace::kWindowBytes));
  // One huge piece does not overflow the count.
  BodyPace burst(0);
  EXPECT_TRUE(burst.Arrived(10, 0xFFFFFFFFu));
  EXPECT_TRUE(burst.Arrived(60010, 1));
}

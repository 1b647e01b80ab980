#include "workflow/installer_signature.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

// INTEGER of `length` bytes: `first`, then 0x11 repeated.
Bytes Integer(std::size_t length, std::uint8_t first) {
  Bytes integer = {0x02, static_cast<std::uint8_t>(length)};
  if (length > 0) integer.push_back(first);
  for (std::size_t i = 1; i < length; ++i) integer.push_back(0x11);
  return integer;
}

Bytes Sequence(const Bytes& r, const Bytes& s) {
  Bytes der = {0x30, static_cast<std::uint8_t>(r.size() + s.size())};
  for (const Bytes* part : {&r, &s})
    for (std::uint8_t byte : *part) der.push_back(byte);
  return der;
}

bool Reads(const Bytes& der) {
  std::uint8_t raw[kRawSignatureSize];
  return RawSignatureFromDer(der.data(), der.size(), raw);
}

}  // namespace

TEST(SignatureUrl, AppendsToThePathAndKeepsTheQueryAfterIt) {
  const struct {
    const char* installer;
    const char* signature;
  } cases[] = {
      {"https://cdn.example/v2/setup.exe", "https://cdn.example/v2/setup.exe.sig"},
      {"https://cdn.example:8443/setup.exe?token=a/b.c&x=1",
       "https://cdn.example:8443/setup.exe.sig?token=a/b.c&x=1"},
      {"http://host/dl/setup.exe#part", "http://host/dl/setup.exe.sig#part"},
      {"http://host/a?b#c", "http://host/a.sig?b#c"},
      // No path: the root's, never a longer host name.
      {"http://host", "http://host/.sig"},
      {"http://host?x=1", "http://host/.sig?x=1"},
      {"http://user:pw@host/", "http://user:pw@host/.sig"},
  };
  for (const auto& c : cases) EXPECT_EQ(SignatureUrl(c.installer), c.signature) << c.installer;
  EXPECT_EQ(BesideInstallerUrl("https://cdn.example/setup.exe?v=2#a", ".release.sig"),
            "https://cdn.example/setup.exe.release.sig?v=2#a");
  EXPECT_EQ(BesideInstallerUrl("http://host?x", ".release"), "http://host/.release?x");
}

TEST(RawSignatureFromDer, ReadsStrictDerIntoRightAlignedNumbers) {
  std::uint8_t raw[kRawSignatureSize];
  // r with its high bit set carries a zero byte; s is one byte short.
  const Bytes der = Sequence(Integer(33, 0x00), Integer(31, 0x7f));
  Bytes withHighBit = der;
  withHighBit[5] = 0x80;  // r's first byte after the zero
  ASSERT_TRUE(RawSignatureFromDer(withHighBit.data(), withHighBit.size(), raw));
  EXPECT_EQ(raw[0], 0x80);
  EXPECT_EQ(raw[31], 0x11);
  EXPECT_EQ(raw[32], 0x00);  // s padded on the left
  EXPECT_EQ(raw[33], 0x7f);
  EXPECT_EQ(raw[63], 0x11);

  EXPECT_TRUE(Reads(Sequence(Integer(32, 0x7f), Integer(32, 0x01))));
  EXPECT_TRUE(Reads(Sequence(Integer(1, 0x01), Integer(1, 0x01))));
}

TEST(RawSignatureFromDer, RefusesEverythingButTheOneEncoding) {
  const Bytes good = Sequence(Integer(32, 0x7f), Integer(32, 0x01));
  Bytes longForm = {0x30, 0x81, 0x44};
  for (std::size_t i = 2; i < good.size(); ++i) longForm.push_back(good[i]);
  Bytes trailing = good;
  trailing.push_back(0x00);
  Bytes lengthTooLong = good;
  ++lengthTooLong[1];
  Bytes wrongTag = good;
  wrongTag[2] = 0x03;
  const Bytes cases[] = {
      {},
      {0x30},
      {0x30, 0x00},
      Bytes(good.begin(), good.end() - 1),
      trailing,
      lengthTooLong,
      longForm,
      wrongTag,
      Sequence(Integer(32, 0x80), Integer(32, 0x01)),  // r negative
      Sequence(Integer(33, 0x00), Integer(32, 0x01)),  // r with a needless zero
      Sequence(Integer(33, 0x01), Integer(32, 0x01)),  // r of 33 bytes
      Sequence(Integer(0, 0), Integer(32, 0x01)),      // r empty
      Sequence(Integer(1, 0x00), Integer(32, 0x01)),   // r zero
      Sequence(Integer(32, 0x01), Integer(1, 0x00)),   // s zero
      Sequence(Integer(32, 0x01), Bytes{}),            // s missing
  };
  for (const Bytes& der : cases) {
    EXPECT_FALSE(Reads(der)) << ::testing::PrintToString(der);
  }
}

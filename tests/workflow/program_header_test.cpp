#include "workflow/program_header.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace {

// A DOS header whose e_lfanew is `offset`, padded with zeros to `size`.
std::string DosHeader(std::uint32_t offset, std::size_t size) {
  std::string bytes(std::max<std::size_t>(size, 64), '\0');
  bytes[0] = 'M';
  bytes[1] = 'Z';
  for (int i = 0; i < 4; ++i) bytes[0x3C + i] = static_cast<char>(offset >> (8 * i));
  bytes.resize(size);
  return bytes;
}

std::string WithSignatureAt(std::string bytes, std::size_t at) {
  bytes.replace(at, 4, std::string("PE\0\0", 4));
  return bytes;
}

// The body fed whole, and one byte at a time.
void ExpectProgram(const std::string& body, bool program) {
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(body.data());
  ProgramHeaderScan whole;
  whole.Take(bytes, body.size());
  EXPECT_EQ(whole.IsWindowsProgram(), program) << "whole";
  ProgramHeaderScan pieces;
  for (std::size_t i = 0; i < body.size(); ++i) pieces.Take(bytes + i, 1);
  EXPECT_EQ(pieces.IsWindowsProgram(), program) << "byte by byte";
}

}  // namespace

TEST(ProgramHeaderScan, TakesAProgramWhateverThePiecesAndWhereverItsHeaderLies) {
  ExpectProgram(WithSignatureAt(DosHeader(0x80, 0x400), 0x80), true);
  ExpectProgram(WithSignatureAt(DosHeader(0x80, 0x84), 0x80), true);  // ends with the signature
  // Inside the DOS header, as the smallest programs have it.
  ExpectProgram(WithSignatureAt(DosHeader(4, 64), 4), true);
  ExpectProgram(WithSignatureAt(DosHeader(0x12345, 0x12345 + 4), 0x12345), true);
}

TEST(ProgramHeaderScan, RefusesLoginPagesAndHeadersThatPointNowhere) {
  ExpectProgram("", false);
  ExpectProgram("M", false);
  ExpectProgram(
      "<!DOCTYPE html><html><head><title>Sign in to the Wi-Fi</title></head>"
      "<body><form method=post></form></body></html>",
      false);
  ExpectProgram(DosHeader(0x80, 0x400), false);                         // MZ, no PE
  ExpectProgram(WithSignatureAt(DosHeader(0x80, 0x400), 0x84), false);  // PE elsewhere
  ExpectProgram(DosHeader(0x1000, 0x400), false);                       // past the end
  ExpectProgram(WithSignatureAt(DosHeader(0x80, 0x83 + 4), 0x80).substr(0, 0x83), false);  // cut
  ExpectProgram(DosHeader(0xFFFFFFFE, 0x400), false);  // would wrap in 32 bits
  std::string zm = WithSignatureAt(DosHeader(0x80, 0x400), 0x80);
  zm[0] = 'Z';
  zm[1] = 'M';
  ExpectProgram(zm, false);
  std::string pe0 = WithSignatureAt(DosHeader(0x80, 0x400), 0x80);
  pe0[0x82] = 'x';
  ExpectProgram(pe0, false);
}

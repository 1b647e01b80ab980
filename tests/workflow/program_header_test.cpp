#include "workflow/program_header.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
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

void PutWord(std::string& bytes, std::size_t at, std::uint16_t value) {
  bytes[at] = static_cast<char>(value & 0xFF);
  bytes[at + 1] = static_cast<char>(value >> 8);
}

// The headers of a 32-bit GUI program as a linker writes them, at `offset`,
// in a body of `size` bytes.
std::string Program(std::uint32_t offset, std::size_t size) {
  std::string bytes = WithSignatureAt(DosHeader(offset, size), offset);
  PutWord(bytes, offset + 4, 0x14C);        // Machine: i386
  PutWord(bytes, offset + 4 + 16, 224);     // SizeOfOptionalHeader
  PutWord(bytes, offset + 4 + 18, 0x0102);  // executable, 32-bit machine
  PutWord(bytes, offset + 24, 0x10B);       // PE32
  PutWord(bytes, offset + 24 + 68, 2);      // GUI
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

constexpr std::uint32_t kAt = 0x80;
constexpr std::size_t kHeadersEnd = kAt + kNewHeadersSize;

}  // namespace

TEST(ProgramHeaderScan, TakesAProgramWhateverThePiecesAndWhereverItsHeaderLies) {
  ExpectProgram(Program(kAt, 0x400), true);
  ExpectProgram(Program(kAt, kHeadersEnd), true);  // ends with the subsystem
  // Inside the DOS header, as the smallest programs have it.
  ExpectProgram(Program(4, 4 + kNewHeadersSize), true);
  ExpectProgram(Program(0x12344, 0x12344 + kNewHeadersSize), true);
  // The 64-bit machines, with the 64-bit optional header, and the console.
  for (const std::uint16_t machine : {0x8664, 0xAA64}) {
    std::string program = Program(kAt, 0x400);
    PutWord(program, kAt + 4, machine);
    PutWord(program, kAt + 24, 0x20B);
    PutWord(program, kAt + 24 + 68, 3);
    ExpectProgram(program, true);
  }
}

TEST(ProgramHeaderScan, RefusesLoginPagesAndHeadersThatPointNowhere) {
  ExpectProgram("", false);
  ExpectProgram("M", false);
  ExpectProgram(
      "<!DOCTYPE html><html><head><title>Sign in to the Wi-Fi</title></head>"
      "<body><form method=post></form></body></html>",
      false);
  // What 32-bit Windows would hand to its DOS subsystem: each row one
  // change to a program that is taken.
  const struct {
    const char* what;
    std::function<void(std::string&)> change;
  } rows[] = {
      {"MZ, no PE", [](std::string& b) { b[kAt] = 'X'; }},
      {"PE elsewhere", [](std::string& b) { b = WithSignatureAt(b.replace(kAt, 4, 4, '\0'), kAt + 4); }},
      {"ZM", [](std::string& b) { std::swap(b[0], b[1]); }},
      {"PE\\0x", [](std::string& b) { b[kAt + 3] = 'x'; }},
      {"e_lfanew past the end", [](std::string& b) { b[0x3D] = 0x10; }},
      {"e_lfanew that would wrap in 32 bits",
       [](std::string& b) { b.replace(0x3C, 4, "\xFC\xFF\xFF\xFF"); }},
      {"e_lfanew not aligned to 4",
       [](std::string& b) { b = Program(kAt + 2, 0x400); }},
      {"cut after the signature", [](std::string& b) { b.resize(kAt + 4); }},
      {"cut inside the file header", [](std::string& b) { b.resize(kAt + 4 + 19); }},
      {"cut before the subsystem's last byte", [](std::string& b) { b.resize(kHeadersEnd - 1); }},
      {"Machine 0", [](std::string& b) { PutWord(b, kAt + 4, 0); }},
      {"Machine of a 16-bit or another CPU", [](std::string& b) { PutWord(b, kAt + 4, 0x1C0); }},
      {"i386 with the 64-bit optional header", [](std::string& b) { PutWord(b, kAt + 24, 0x20B); }},
      {"AMD64 with the 32-bit optional header",
       [](std::string& b) { PutWord(b, kAt + 4, 0x8664); }},
      {"no optional header magic", [](std::string& b) { PutWord(b, kAt + 24, 0x107); }},
      {"an optional header too short for its subsystem",
       [](std::string& b) { PutWord(b, kAt + 4 + 16, 69); }},
      {"not an executable image", [](std::string& b) { PutWord(b, kAt + 4 + 18, 0x0100); }},
      {"a DLL", [](std::string& b) { PutWord(b, kAt + 4 + 18, 0x2102); }},
      {"subsystem 0", [](std::string& b) { PutWord(b, kAt + 24 + 68, 0); }},
      {"a native driver's subsystem", [](std::string& b) { PutWord(b, kAt + 24 + 68, 1); }},
      {"a subsystem above the console", [](std::string& b) { PutWord(b, kAt + 24 + 68, 0x103); }},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    std::string body = Program(kAt, 0x400);
    row.change(body);
    ExpectProgram(body, false);
  }
}

// Whether a downloaded body is a Windows program, read as it arrives. A body
// of another kind (a login page that a hotel's or a train's network answers
// every request with) must never be started: under the name of a program the
// platform would hand it to its 16-bit subsystem, whose questions belong to
// another process and hold the check thread for good. 32-bit Windows does
// the same with anything whose headers it does not take for a Windows
// program of its own, so the test is the loader's, not merely "MZ". Pure.
#pragma once

#include <cstddef>
#include <cstdint>

// The DOS header's size, which holds e_lfanew, the file offset of "PE\0\0".
inline constexpr std::size_t kDosHeaderSize = 64;

// What is read from e_lfanew on: the signature, the file header (20 bytes)
// and the optional header up to and including its Subsystem field (at 68 in
// both the 32- and the 64-bit form).
inline constexpr std::size_t kNewHeadersSize = 4 + 20 + 70;

// Takes the body piece by piece, in order, whatever the pieces' sizes, and
// keeps only the few bytes the test needs.
class ProgramHeaderScan {
 public:
  void Take(const std::uint8_t* data, std::size_t size) noexcept;

  // True when the body taken so far begins with "MZ" and its e_lfanew, a
  // multiple of 4, points at "PE\0\0" followed by a file header and an
  // optional header up to its subsystem, all inside the body: Machine i386
  // (with the 32-bit optional header) or AMD64 or ARM64 (with the 64-bit
  // one), an executable image that is no DLL, for the GUI or the console.
  bool IsWindowsProgram() const noexcept;

 private:
  // The file offset of the new header, once the DOS header is whole.
  std::uint32_t NewHeaderOffset() const noexcept;
  // The byte at `at` bytes past e_lfanew, which must have been taken.
  std::uint8_t NewHeaderByte(std::uint64_t at) const noexcept;

  std::uint8_t m_dosHeader[kDosHeaderSize] = {};
  // The new headers' bytes that lie past the DOS header, at their offset
  // from e_lfanew.
  std::uint8_t m_newHeaders[kNewHeadersSize] = {};
  std::uint64_t m_taken = 0;
};

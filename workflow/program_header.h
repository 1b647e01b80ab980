// Whether a downloaded body is a Windows program, read as it arrives. A body
// of another kind (a login page that a hotel's or a train's network answers
// every request with) must never be started: under the name of a program the
// platform would hand it to its 16-bit subsystem, whose questions belong to
// another process and hold the check thread for good. Pure.
#pragma once

#include <cstddef>
#include <cstdint>

// The DOS header's size, which holds e_lfanew, the file offset of "PE\0\0".
inline constexpr std::size_t kDosHeaderSize = 64;

// Takes the body piece by piece, in order, whatever the pieces' sizes, and
// keeps only the few bytes the test needs.
class ProgramHeaderScan {
 public:
  void Take(const std::uint8_t* data, std::size_t size) noexcept;

  // True when the body taken so far begins with "MZ" and its e_lfanew points
  // at "PE\0\0" wholly inside it.
  bool IsWindowsProgram() const noexcept;

 private:
  // The file offset of the new header, once the DOS header is whole.
  std::uint32_t NewHeaderOffset() const noexcept;

  std::uint8_t m_dosHeader[kDosHeaderSize] = {};
  // The signature's bytes that lie past the DOS header.
  std::uint8_t m_signature[4] = {};
  std::uint64_t m_taken = 0;
};

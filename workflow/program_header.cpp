#include "workflow/program_header.h"

#include <algorithm>

namespace {

constexpr std::uint8_t kSignature[4] = {'P', 'E', 0, 0};
constexpr std::size_t kNewHeaderOffsetAt = 0x3C;

// Offsets from e_lfanew.
constexpr std::size_t kMachineAt = 4;
constexpr std::size_t kOptionalHeaderSizeAt = 4 + 16;
constexpr std::size_t kCharacteristicsAt = 4 + 18;
constexpr std::size_t kOptionalHeaderAt = 4 + 20;
constexpr std::size_t kSubsystemAt = kOptionalHeaderAt + 68;

constexpr std::uint16_t kMachineI386 = 0x14C;
constexpr std::uint16_t kMachineAmd64 = 0x8664;
constexpr std::uint16_t kMachineArm64 = 0xAA64;
constexpr std::uint16_t kMagic32 = 0x10B;
constexpr std::uint16_t kMagic64 = 0x20B;
constexpr std::uint16_t kExecutableImage = 0x0002;
constexpr std::uint16_t kDll = 0x2000;
constexpr std::uint16_t kSubsystemGui = 2;
constexpr std::uint16_t kSubsystemConsole = 3;

}  // namespace

std::uint32_t ProgramHeaderScan::NewHeaderOffset() const noexcept {
  const std::uint8_t* at = m_dosHeader + kNewHeaderOffsetAt;
  return static_cast<std::uint32_t>(at[0]) | static_cast<std::uint32_t>(at[1]) << 8 |
         static_cast<std::uint32_t>(at[2]) << 16 | static_cast<std::uint32_t>(at[3]) << 24;
}

std::uint8_t ProgramHeaderScan::NewHeaderByte(std::uint64_t at) const noexcept {
  const std::uint64_t offset = NewHeaderOffset() + at;
  return offset < kDosHeaderSize ? m_dosHeader[offset] : m_newHeaders[at];
}

void ProgramHeaderScan::Take(const std::uint8_t* data, std::size_t size) noexcept {
  if (data == nullptr) return;
  const std::uint64_t start = m_taken;
  const std::uint64_t end = start + size;
  if (start < kDosHeaderSize) {
    const std::size_t count =
        static_cast<std::size_t>(std::min<std::uint64_t>(end, kDosHeaderSize) - start);
    std::copy(data, data + count, m_dosHeader + start);
  }
  m_taken = end;
  if (end <= kDosHeaderSize) return;
  // Bytes past the DOS header arrive only once it is whole, so the offset is
  // known by then; the new headers may begin inside the DOS header.
  const std::uint64_t headers = NewHeaderOffset();
  const std::uint64_t from = std::max({start, headers, std::uint64_t{kDosHeaderSize}});
  const std::uint64_t to = std::min(end, headers + kNewHeadersSize);
  for (std::uint64_t at = from; at < to; ++at) m_newHeaders[at - headers] = data[at - start];
}

bool ProgramHeaderScan::IsWindowsProgram() const noexcept {
  if (m_taken < kDosHeaderSize || m_dosHeader[0] != 'M' || m_dosHeader[1] != 'Z') return false;
  const std::uint64_t headers = NewHeaderOffset();
  if (headers % 4 != 0 || headers + kNewHeadersSize > m_taken) return false;
  std::uint8_t at[kNewHeadersSize];
  for (std::size_t i = 0; i < kNewHeadersSize; ++i) at[i] = NewHeaderByte(i);
  const auto word = [&at](std::size_t offset) {
    return static_cast<std::uint16_t>(at[offset] | at[offset + 1] << 8);
  };
  const std::uint16_t machine = word(kMachineAt);
  const std::uint16_t magic = word(kOptionalHeaderAt);
  const bool known = (machine == kMachineI386 && magic == kMagic32) ||
                     ((machine == kMachineAmd64 || machine == kMachineArm64) && magic == kMagic64);
  const std::uint16_t characteristics = word(kCharacteristicsAt);
  const std::uint16_t subsystem = word(kSubsystemAt);
  return std::equal(kSignature, kSignature + sizeof kSignature, at) && known &&
         word(kOptionalHeaderSizeAt) >= kSubsystemAt + 2 - kOptionalHeaderAt &&
         (characteristics & kExecutableImage) && !(characteristics & kDll) &&
         (subsystem == kSubsystemGui || subsystem == kSubsystemConsole);
}

#include "workflow/program_header.h"

#include <algorithm>

namespace {

constexpr std::uint8_t kSignature[4] = {'P', 'E', 0, 0};
constexpr std::size_t kNewHeaderOffsetAt = 0x3C;

}  // namespace

std::uint32_t ProgramHeaderScan::NewHeaderOffset() const noexcept {
  const std::uint8_t* at = m_dosHeader + kNewHeaderOffsetAt;
  return static_cast<std::uint32_t>(at[0]) | static_cast<std::uint32_t>(at[1]) << 8 |
         static_cast<std::uint32_t>(at[2]) << 16 | static_cast<std::uint32_t>(at[3]) << 24;
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
  // known by then; the signature may begin inside the DOS header.
  const std::uint64_t signature = NewHeaderOffset();
  const std::uint64_t from = std::max({start, signature, std::uint64_t{kDosHeaderSize}});
  const std::uint64_t to = std::min(end, signature + sizeof m_signature);
  for (std::uint64_t at = from; at < to; ++at) m_signature[at - signature] = data[at - start];
}

bool ProgramHeaderScan::IsWindowsProgram() const noexcept {
  if (m_taken < kDosHeaderSize || m_dosHeader[0] != 'M' || m_dosHeader[1] != 'Z') return false;
  const std::uint64_t signature = NewHeaderOffset();
  if (signature + sizeof kSignature > m_taken) return false;
  for (std::uint64_t at = signature; at < signature + sizeof kSignature; ++at) {
    const std::uint8_t byte = at < kDosHeaderSize ? m_dosHeader[at] : m_signature[at - signature];
    if (byte != kSignature[at - signature]) return false;
  }
  return true;
}

#include "workflow/last_update_header.h"

#include <algorithm>

namespace {

bool IsControl(unsigned char c) { return c < 0x20 || c == 0x7F; }

}  // namespace

std::string LastInstalledUpdateHeader(const char* bytes, std::size_t size) {
  if (bytes == nullptr) return {};
  const char* end = std::find(bytes, bytes + size, '\0');
  if (std::any_of(bytes, end, [](char c) { return IsControl(static_cast<unsigned char>(c)); }))
    return {};
  return std::string(bytes, end);
}

#include "workflow/installer_file_name.h"

#include <cctype>

namespace {

constexpr std::string_view kInstallerSuffix = "-middleware.exe";

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) !=
        std::tolower(static_cast<unsigned char>(b[i])))
      return false;
  }
  return true;
}

// Consumes `prefix` from the front of `text` when it is there.
bool TakePrefix(std::string_view& text, std::string_view prefix) {
  if (text.size() < prefix.size() || !EqualsIgnoringCase(text.substr(0, prefix.size()), prefix))
    return false;
  text.remove_prefix(prefix.size());
  return true;
}

}  // namespace

std::string InstallerName(std::string_view temporaryName) {
  std::string name(temporaryName);
  name += kInstallerSuffix;
  return name;
}

std::wstring InstallerName(std::wstring_view temporaryName) {
  std::wstring name(temporaryName);
  name.append(kInstallerSuffix.begin(), kInstallerSuffix.end());
  return name;
}

bool IsInstallerFileName(std::wstring_view fileName) {
  // Our names are ASCII; any other letter makes it somebody else's.
  std::string narrow;
  for (const wchar_t c : fileName) {
    if (c <= 0 || c > 0x7F) return false;
    narrow += static_cast<char>(c);
  }
  return IsInstallerFileName(narrow);
}

bool IsInstallerFileName(std::string_view fileName) {
  if (!TakePrefix(fileName, std::string_view(kInstallerTempPrefix, 3))) return false;
  size_t digits = 0;
  while (digits < fileName.size() && std::isxdigit(static_cast<unsigned char>(fileName[digits])))
    ++digits;
  if (digits == 0 || digits > 4) return false;
  fileName.remove_prefix(digits);
  if (!TakePrefix(fileName, ".tmp")) return false;
  return fileName.empty() || EqualsIgnoringCase(fileName, kInstallerSuffix);
}

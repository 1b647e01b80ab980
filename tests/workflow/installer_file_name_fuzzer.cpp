// Arbitrary bytes as a file name found in the temporary folder. The name must
// be taken for ours exactly when a regular expression of our names, without
// regard to case, matches it; a name of ours given the installer's suffix
// must still be ours.
#include <cstdint>
#include <regex>
#include <string>
#include <string_view>

#include "workflow/installer_file_name.h"
#include "tests/fuzz_check.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string name(reinterpret_cast<const char*>(data), size);
  static const std::regex ours("dex[0-9a-f]{1,4}\\.tmp(-middleware\\.exe)?", std::regex::icase);
  const bool isOurs = IsInstallerFileName(name);
  Check(isOurs == std::regex_match(name, ours));

  const std::string installer = InstallerName(name);
  Check(installer.size() > name.size() && installer.compare(0, name.size(), name) == 0);
  // "dex", four digits and ".tmp" at most: a temporary name, not yet the installer's.
  if (isOurs && name.size() <= 11) Check(IsInstallerFileName(installer));
  return 0;
}

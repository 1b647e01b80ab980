// Arbitrary bytes as a release statement answer. Besides reads and writes
// out of bounds, which ASan sees, it stops when a statement is accepted
// that does not print back to exactly the bytes it was read from: the
// format has one spelling of each statement.
#include <cstdint>
#include <cstring>
#include <string>

#include "tests/fuzz_check.h"
#include "workflow/release_statement.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  ReleaseStatement statement;
  if (!ParseReleaseStatement(data, size, statement)) return 0;
  const std::string printed = "tavrin-release-statement 1\nproduct tavrin-middleware\nversion " +
                              statement.version + "\nlength " + std::to_string(statement.length) +
                              "\nsha256 " + statement.sha256 + "\nsequence " +
                              std::to_string(statement.sequence) + "\n";
  Check(printed.size() == size && std::memcmp(printed.data(), data, size) == 0);
  Check(statement.length >= 1 && statement.sequence >= 1);
  return 0;
}

#include "workflow/last_update_header.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

TEST(LastInstalledUpdateHeader, SendsTheTextUpToItsFirstNulWithinTheBytesRead) {
  struct Case {
    const char* what;
    std::string bytes;
    std::string header;
  };
  const Case cases[] = {
      {"a plain value", std::string("2024-05-01\0\0\0", 13), "2024-05-01"},
      {"nothing stored", std::string(8, '\0'), ""},
      {"bytes after the terminator", std::string("v1\0\r\nX: y", 9), "v1"},
      {"no terminator at all", std::string(260, 'x'), std::string(260, 'x')},
      {"code page letters", "caf\xE9", "caf\xE9"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(LastInstalledUpdateHeader(c.bytes.data(), c.bytes.size()), c.header);
  }
  EXPECT_EQ(LastInstalledUpdateHeader(nullptr, 0), "");
}

TEST(LastInstalledUpdateHeader, AValueWithAControlCharacterIsNotSent) {
  for (const std::string& value : std::vector<std::string>{"1\r\nX-Injected: yes", "1\nX: y",
                                                           "1\rX", "a\tb", "a\x7F", "\x1B[0m"}) {
    SCOPED_TRACE(value);
    const std::string stored = value + std::string(4, '\0');
    EXPECT_EQ(LastInstalledUpdateHeader(stored.data(), stored.size()), "");
  }
}

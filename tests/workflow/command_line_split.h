// A reference split of a narrow command line by the C runtime's rules, to
// check our quoting against: the program name ends at the first blank outside
// quotes, and its quotes only toggle (backslashes are literal there). In the
// arguments, blanks are spaces and tabs; backslashes are literal unless a
// quote follows; 2n backslashes and a quote give n backslashes and a
// delimiter, 2n + 1 give n backslashes and a literal quote; "" inside quotes
// is a literal quote.
#pragma once

#include <string>
#include <vector>

inline std::vector<std::string> SplitCommandLine(const std::string& line) {
  std::vector<std::string> args;
  const char* p = line.c_str();

  std::string program;
  bool inQuote = false;
  while (*p != '\0' && (inQuote || (*p != ' ' && *p != '\t'))) {
    if (*p == '"')
      inQuote = !inQuote;
    else
      program += *p;
    ++p;
  }
  args.push_back(program);

  for (;;) {
    while (*p == ' ' || *p == '\t') ++p;
    if (*p == '\0') break;
    std::string arg;
    inQuote = false;
    for (;;) {
      bool copy = true;
      size_t backslashes = 0;
      while (*p == '\\') {
        ++p;
        ++backslashes;
      }
      if (*p == '"') {
        if (backslashes % 2 == 0) {
          if (inQuote && p[1] == '"') {
            ++p;
          } else {
            copy = false;
            inQuote = !inQuote;
          }
        }
        backslashes /= 2;
      }
      arg.append(backslashes, '\\');
      if (*p == '\0' || (!inQuote && (*p == ' ' || *p == '\t'))) break;
      if (copy) arg += *p;
      ++p;
    }
    args.push_back(arg);
  }
  return args;
}

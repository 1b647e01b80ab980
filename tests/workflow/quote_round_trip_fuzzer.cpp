// Arbitrary bytes as a program path and a check URL (split at the first NUL)
// through the autostart command, the relaunch parameters and the quoting of
// one argument. Each must split back into exactly what went in; a refused
// command must have had a reason to be refused.
#include <cstdint>
#include <string>
#include <vector>

#include "tests/fuzz_check.h"
#include "tests/workflow/command_line_split.h"
#include "workflow/autostart_command.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);
  const std::size_t nul = input.find('\0');
  const std::string path = nul == std::string::npos ? std::string("p") : input.substr(0, nul);
  const std::string url = nul == std::string::npos ? input : input.substr(nul + 1);
  if (url.find('\0') != std::string::npos) return 0;  // a command line ends at NUL
  const bool pin = (size % 2) != 0;
  const std::vector<std::string> expected = {path, "", url, pin ? "1" : "0"};

  Check(SplitCommandLine("prog " + QuoteArgument(url)) == (std::vector<std::string>{"prog", url}));

  const std::string command = AutostartCommand(path, url, pin);
  if (command.empty()) {
    Check(path.empty() || path.find('"') != std::string::npos ||
          path.size() + QuoteArgument(url).size() + 10 > kMaxCommandLine);
  } else {
    Check(command.size() <= kMaxCommandLine);
    Check(SplitCommandLine(command) == expected);
  }

  const std::string parameters = RelaunchParameters(url, pin);
  if (!parameters.empty() && !path.empty() && path.find('"') == std::string::npos) {
    Check(SplitCommandLine("\"" + path + "\" " + parameters) == expected);
  }
  return 0;
}

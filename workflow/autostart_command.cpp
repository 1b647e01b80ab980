#include "workflow/autostart_command.h"

std::string QuoteArgument(const std::string& argument) {
  std::string quoted;
  quoted.reserve(argument.size() + 2);
  quoted += '"';
  std::size_t backslashes = 0;
  for (const char c : argument) {
    if (c == '\\') {
      ++backslashes;
    } else if (c == '"') {
      // 2n + 1 backslashes before a quote give n backslashes and the quote.
      quoted.append(backslashes + 1, '\\');
      backslashes = 0;
    } else {
      backslashes = 0;
    }
    quoted += c;
  }
  // Trailing backslashes would escape the closing quote unless doubled.
  quoted.append(backslashes, '\\');
  quoted += '"';
  return quoted;
}

namespace {

// The three fields after the program: the empty placeholder, the URL and the
// pin switch, in the layout the entry point reads.
std::string Fields(const std::string& checkUrl, bool pinCertificate) {
  return "\"\" " + QuoteArgument(checkUrl) + (pinCertificate ? " \"1\"" : " \"0\"");
}

}  // namespace

std::string RelaunchParameters(const std::string& checkUrl, bool pinCertificate) {
  std::string parameters = Fields(checkUrl, pinCertificate);
  if (parameters.size() > kMaxCommandLine - kProgramFieldRoom) return std::string();
  return parameters;
}

std::string AutostartCommand(const std::string& copyPath, const std::string& checkUrl,
                             bool pinCertificate) {
  if (copyPath.empty() || copyPath.find('"') != std::string::npos) return std::string();
  std::string command = "\"" + copyPath + "\" " + Fields(checkUrl, pinCertificate);
  if (command.size() > kMaxCommandLine) return std::string();
  return command;
}

#include "workflow/autostart_command.h"

namespace {

// An ASCII literal in the character type of `String`.
template <class String, std::size_t N>
String Literal(const char (&text)[N]) {
  return String(text, text + N - 1);
}

template <class String>
String Quoted(const String& argument) {
  String quoted;
  quoted.reserve(argument.size() + 2);
  quoted += '"';
  std::size_t backslashes = 0;
  for (const auto c : argument) {
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

// The three fields after the program: the empty placeholder, the URL and the
// pin switch, in the layout the entry point reads.
template <class String>
String Fields(const String& checkUrl, bool pinCertificate) {
  return Literal<String>("\"\" ") + Quoted(checkUrl) +
         (pinCertificate ? Literal<String>(" \"1\"") : Literal<String>(" \"0\""));
}

template <class String>
String Relaunch(const String& checkUrl, bool pinCertificate) {
  String parameters = Fields(checkUrl, pinCertificate);
  if (parameters.size() > kMaxCommandLine - kProgramFieldRoom) return String();
  return parameters;
}

template <class String>
String Autostart(const String& copyPath, const String& checkUrl, bool pinCertificate) {
  if (copyPath.empty() || copyPath.find('"') != String::npos) return String();
  String command =
      Literal<String>("\"") + copyPath + Literal<String>("\" ") + Fields(checkUrl, pinCertificate);
  if (command.size() > kMaxCommandLine) return String();
  return command;
}

}  // namespace

std::string QuoteArgument(const std::string& argument) { return Quoted(argument); }
std::wstring QuoteArgument(const std::wstring& argument) { return Quoted(argument); }

std::string AutostartCommand(const std::string& copyPath, const std::string& checkUrl,
                             bool pinCertificate) {
  return Autostart(copyPath, checkUrl, pinCertificate);
}
std::wstring AutostartCommand(const std::wstring& copyPath, const std::wstring& checkUrl,
                              bool pinCertificate) {
  return Autostart(copyPath, checkUrl, pinCertificate);
}

std::string RelaunchParameters(const std::string& checkUrl, bool pinCertificate) {
  return Relaunch(checkUrl, pinCertificate);
}
std::wstring RelaunchParameters(const std::wstring& checkUrl, bool pinCertificate) {
  return Relaunch(checkUrl, pinCertificate);
}

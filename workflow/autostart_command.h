// The command lines that start the per-user copy: the autostart value under
// the Run key and the parameters of the relaunch. Pure text, no Windows: the
// program forms them wide (UTF-16), narrow text is quoted the same way;
// failure is an empty result.
//
// Every field is quoted so that the platform's split (CommandLineToArgvW and
// the C runtime) gives it back unchanged; fields without a double quote or a
// trailing backslash come out as they are between plain double quotes. The
// quoting works on bytes: in a double-byte code page a trail byte equal to
// '\' before a quote or at a field's end would be doubled; paths and URLs
// carry no such byte there.
#pragma once

#include <cstddef>
#include <string>

// Both command lines end up in CreateProcess, which refuses more than 32767
// characters with the terminator (bytes, for narrow text). A command that would not fit is refused
// rather than cut: a cut command could start the copy with half a URL.
constexpr std::size_t kMaxCommandLine = 32766;

// Room the relaunch leaves for the program path that ShellExecuteEx puts in
// front of the parameters: a path of 260 characters of up to two bytes each,
// its two quotes and the separating space.
constexpr std::size_t kProgramFieldRoom = 2 * 260 + 3;

// `argument` between double quotes, with every run of backslashes doubled when
// a quote follows it (its own or the closing one) and every quote escaped as
// \". Never fails.
std::string QuoteArgument(const std::string& argument);
std::wstring QuoteArgument(const std::wstring& argument);

// "<copyPath>" "" "<checkUrl>" "1|0": the autostart value. The program path
// is split by a rule of its own (up to the next quote, backslashes literal),
// so it is quoted plainly, and a path that is empty or holds a double quote
// is refused. Empty when refused or longer than kMaxCommandLine.
std::string AutostartCommand(const std::string& copyPath, const std::string& checkUrl,
                             bool pinCertificate);
std::wstring AutostartCommand(const std::wstring& copyPath, const std::wstring& checkUrl,
                              bool pinCertificate);

// "" "<checkUrl>" "1|0": the parameters of the relaunch of the copy. Empty
// when longer than kMaxCommandLine less kProgramFieldRoom.
std::string RelaunchParameters(const std::string& checkUrl, bool pinCertificate);
std::wstring RelaunchParameters(const std::wstring& checkUrl, bool pinCertificate);

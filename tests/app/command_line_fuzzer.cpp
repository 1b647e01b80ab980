// Arbitrary bytes as an argument vector (NUL ends an argument; a byte from
// 0x80 up stands for a wide character whose low byte is the byte less 0x80,
// so that "/" or "f" in the low byte alone must not count) through the option
// scan, the positional look-up and the pin switch. It stops when the scan
// counts other than the options it visits, when a positional is not where the
// scan says, or when trimming or the switch keep or drop the wrong characters.
#include <cstdint>
#include <string>
#include <vector>

#include "app/command_line.h"
#include "tests/fuzz_check.h"

namespace {

std::vector<std::wstring> Arguments(const std::uint8_t* data, std::size_t size) {
  std::vector<std::wstring> args;
  if (size == 0) return args;
  args.emplace_back();
  for (std::size_t i = 0; i < size; ++i) {
    if (data[i] == 0) {
      args.emplace_back();
    } else {
      args.back() +=
          data[i] < 0x80 ? wchar_t{data[i]} : static_cast<wchar_t>(0x100 | (data[i] - 0x80));
    }
  }
  return args;
}

bool IsOption(const std::wstring& arg) { return !arg.empty() && arg[0] == L'/'; }

void CheckTrim(const std::wstring& text) {
  const std::wstring trimmed = TrimSpaces(text);
  if (trimmed.empty()) {
    Check(text.find_first_not_of(L' ') == std::wstring::npos);
    return;
  }
  Check(trimmed.front() != L' ' && trimmed.back() != L' ');
  const std::size_t at = text.find(trimmed);
  Check(at != std::wstring::npos);
  Check(text.find_first_not_of(L' ') == at);
  Check(text.find_last_not_of(L' ') == at + trimmed.size() - 1);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::vector<std::wstring> args = Arguments(data, size);
  const OptionScan scan = ScanOptions(args);

  // Every argument is the program, an option or a positional.
  Check(args.empty() ? scan.optionCount == 0 && scan.positionalCount == 0
                     : scan.optionCount + scan.positionalCount + 1 == args.size());

  // The scan visits index i while i is below the count left, so it stops at
  // the final count, or one past it when an option at that index lowered the
  // count onto it (that option then also stands as a positional). Only what it
  // visited may be counted or switch anything on.
  const std::size_t stop = args.size() - scan.optionCount;
  std::size_t options = 0;
  for (std::size_t i = 1; i < stop; ++i) options += IsOption(args[i]) ? 1 : 0;
  const bool lastVisitedAtStop = options + 1 == scan.optionCount;
  Check(options == scan.optionCount || (lastVisitedAtStop && IsOption(args[stop])));
  bool force = false;
  bool quiet = false;
  for (std::size_t i = 1; i < stop + (lastVisitedAtStop ? 1 : 0); ++i) {
    if (!IsOption(args[i]) || args[i].size() < 2) continue;
    force = force || args[i][1] == L'f';
    quiet = quiet || args[i][1] == L'p';
  }
  Check(force == scan.forceCheck && quiet == scan.quietStart);

  Check(Positional(args, scan, 0) == nullptr);
  Check(Positional(args, scan, scan.positionalCount + 1) == nullptr);
  for (std::size_t k = 1; k <= scan.positionalCount; ++k) {
    Check(Positional(args, scan, k) == &args[k + scan.optionCount]);
  }

  for (const std::wstring& arg : args) {
    CheckTrim(arg);
    // On exactly when a "1" is all there is besides spaces.
    const std::size_t first = arg.find_first_not_of(L' ');
    const bool lone1 = first != std::wstring::npos && arg[first] == L'1' &&
                       arg.find_first_not_of(L' ', first + 1) == std::wstring::npos;
    Check(PinSwitchOn(&arg) == lone1);
  }
  Check(!PinSwitchOn(nullptr));
  return 0;
}

#include "app/command_line.h"

OptionScan ScanOptions(const std::vector<std::wstring>& args) {
  OptionScan scan;
  size_t remaining = args.size();
  for (size_t i = 1; i < remaining; ++i) {
    const std::wstring& arg = args[i];
    if (arg.empty() || arg[0] != L'/') continue;
    const wchar_t letter = arg.size() > 1 ? arg[1] : L'\0';
    if (letter == L'f') scan.forceCheck = true;
    if (letter == L'p') scan.quietStart = true;
    --remaining;
  }
  scan.optionCount = args.size() - remaining;
  scan.positionalCount = remaining > 0 ? remaining - 1 : 0;
  return scan;
}

const std::wstring* Positional(const std::vector<std::wstring>& args, const OptionScan& scan,
                               size_t k) {
  if (k == 0 || k > scan.positionalCount) return nullptr;
  const size_t index = k + scan.optionCount;
  return index < args.size() ? &args[index] : nullptr;
}

std::wstring TrimSpaces(const std::wstring& text) {
  const size_t first = text.find_first_not_of(L' ');
  if (first == std::wstring::npos) return std::wstring();
  const size_t last = text.find_last_not_of(L' ');
  return text.substr(first, last - first + 1);
}

bool PinSwitchOn(const std::wstring* argument) {
  return argument != nullptr && TrimSpaces(*argument) == L"1";
}

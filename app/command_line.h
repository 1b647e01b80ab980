// The program's command line after it was split into wide arguments: the
// option scan, the trimming of the positional arguments and the pin switch.
// Pure logic, no Windows; the entry point applies the results.
#pragma once

#include <string>
#include <vector>

struct OptionScan {
  bool forceCheck = false;  // "/f" was counted
  bool quietStart = false;  // "/p" was counted
  // Number of arguments the scan counted as options; positional k is the
  // argument at index k + optionCount.
  size_t optionCount = 0;
  // Positional arguments present: what the scan left after the program path.
  size_t positionalCount = 0;
};

// Visits arguments 1, 2, ... while the index is below the remaining count,
// which starts at args.size() and drops by one for every option seen. An
// argument is an option when it begins with '/'; its letter is the second
// character alone, case-sensitive ("/fx" acts as "/f", "/F" and "/" are
// counted but ignored). Arguments at or beyond the stopping index are never
// examined.
OptionScan ScanOptions(const std::vector<std::wstring>& args);

// Positional k (1-based) of the scanned arguments, or nullptr when absent.
const std::wstring* Positional(const std::vector<std::wstring>& args, const OptionScan& scan,
                               size_t k);

// Removes leading and trailing U+0020 only; tabs and other blanks stay.
std::wstring TrimSpaces(const std::wstring& text);

// The pin switch: positional 3 present and, trimmed, exactly "1".
bool PinSwitchOn(const std::wstring* argument);

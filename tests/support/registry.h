// Typed registry values for the Windows tests, in the view that the program
// under test reads (the 32-bit view for the product, the 64-bit one for the
// x86_64 test build), under either hive; and the reset of everything the program leaves on
// a machine, so that each test starts from a fresh account.
#pragma once

#include <windows.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

enum class Hive { User, Machine };

inline constexpr char kSettingsKey[] = "SOFTWARE\\tavrin\\brenlo";
inline constexpr char kRunKey[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";
inline constexpr char kLanguageKey[] = "SOFTWARE\\tavrin\\Solvane";

struct RegistryValue {
  DWORD type = REG_NONE;
  std::vector<uint8_t> bytes;

  // The first 4 or 8 bytes as a little-endian number; nullopt when shorter.
  std::optional<uint32_t> AsDword() const;
  std::optional<uint64_t> AsQword() const;
  // The bytes up to the first NUL (or all of them).
  std::string AsString() const;
};

// Each setter creates the key when needed and fails the current test when the
// write does not succeed.
void SetDword(Hive hive, const char* key, const char* name, uint32_t value);
void SetQword(Hive hive, const char* key, const char* name, uint64_t value);
void SetString(Hive hive, const char* key, const char* name, const std::string& value);
void SetBinary(Hive hive, const char* key, const char* name, const std::vector<uint8_t>& bytes);

// The value as stored, or nullopt when the key or the value is missing.
std::optional<RegistryValue> ReadValue(Hive hive, const char* key, const char* name);
bool KeyExists(Hive hive, const char* key);
void DeleteValue(Hive hive, const char* key, const char* name);
void DeleteKeyTree(Hive hive, const char* key);

// Removes the program's keys under both hives, the language override, its Run
// value and its folders under the profile and the roaming application data.
void ResetProgramState();

// Seconds since 1970-01-01 UTC, from the system clock.
int64_t UnixNow();

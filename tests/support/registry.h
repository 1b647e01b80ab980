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

// A string value (REG_SZ or REG_EXPAND_SZ) set for the life of the object in
// the program's view, then put back as it was, or deleted when it was absent:
// for the values that move a user's folders elsewhere.
class ScopedStringValue {
 public:
  ScopedStringValue(Hive hive, const wchar_t* key, const wchar_t* name, DWORD type,
                    const std::wstring& value);
  ~ScopedStringValue();
  ScopedStringValue(const ScopedStringValue&) = delete;
  ScopedStringValue& operator=(const ScopedStringValue&) = delete;

 private:
  HKEY m_root;
  std::wstring m_key, m_name;
  DWORD m_savedType = REG_NONE;
  std::vector<uint8_t> m_saved;
  bool m_existed = false;
};

// A string value read wide, or nullopt when missing.
std::optional<std::wstring> ReadStringW(Hive hive, const wchar_t* key, const wchar_t* name);

// Deletes `folder` with everything in it; nothing when it does not exist.
void DeleteFolderTree(const std::wstring& folder);

// Seconds since 1970-01-01 UTC, from the system clock.
int64_t UnixNow();

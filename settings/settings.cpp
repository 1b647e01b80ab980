#include "settings/settings.h"

#include <cstdint>
#include <cstring>
#include <cwchar>
#include <ctime>
#include <new>
#include <vector>

#include "platform/unique_handle.h"

const char SettingsKey[] = "SOFTWARE\\tavrin\\brenlo";

namespace {

const char kRunKey[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";
const wchar_t kRunValueName[] = L"tavrin-brenlo";

// Opens `path` under `hive`, creating it where the process may: a read in the
// user's hive therefore leaves an empty key behind, and a read of a missing
// machine key fails for anybody but an administrator. No registry-view flag:
// a 32-bit process sees the 32-bit view.
UniqueRegKey OpenOrCreate(HKEY hive, const char* path, REGSAM access) {
  UniqueRegKey key;
  if (::RegCreateKeyExA(hive, path, 0, nullptr, REG_OPTION_NON_VOLATILE, access, nullptr,
                        key.Receive(), nullptr) != ERROR_SUCCESS)
    key.Reset();
  return key;
}

}  // namespace

BOOL ReadSetting(HKEY hive, const char* name, void* buffer, DWORD size) {
  if (size) std::memset(buffer, 0, size);
  const UniqueRegKey key = OpenOrCreate(hive, SettingsKey, KEY_READ);
  if (!key) return FALSE;
  DWORD length = size;
  if (::RegQueryValueExA(key.Get(), name, nullptr, nullptr, static_cast<BYTE*>(buffer), &length) ==
      ERROR_SUCCESS)
    return TRUE;
  // A value too large for the buffer may leave part of itself behind; callers
  // rely on a failed read leaving zeros.
  if (size) std::memset(buffer, 0, size);
  return FALSE;
}

BOOL ReadSettingHead(HKEY hive, const char* name, void* buffer, DWORD size) {
  if (size) std::memset(buffer, 0, size);
  const UniqueRegKey key = OpenOrCreate(hive, SettingsKey, KEY_READ);
  if (!key) return FALSE;
  // The platform fills nothing it can rely on into a buffer that is too
  // small, so a longer value is read whole and cut. It may grow between the
  // size query and the read: ask again a few times.
  for (int attempt = 0; attempt < 3; ++attempt) {
    DWORD length = 0;
    if (::RegQueryValueExA(key.Get(), name, nullptr, nullptr, nullptr, &length) != ERROR_SUCCESS)
      return FALSE;
    std::vector<BYTE> whole;
    try {
      whole.resize(length + 1);
    } catch (const std::bad_alloc&) {
      return FALSE;
    }
    DWORD read = static_cast<DWORD>(whole.size());
    const LONG status = ::RegQueryValueExA(key.Get(), name, nullptr, nullptr, whole.data(), &read);
    if (status == ERROR_MORE_DATA) continue;
    if (status != ERROR_SUCCESS) return FALSE;
    std::memcpy(buffer, whole.data(), read < size ? read : size);
    return TRUE;
  }
  return FALSE;
}

BOOL ReadOwnSetting(const char* name, DWORD type, void* buffer, DWORD& size) {
  const UniqueRegKey key = OpenOrCreate(HKEY_CURRENT_USER, SettingsKey, KEY_READ);
  if (!key) return FALSE;
  DWORD stored = REG_NONE;
  DWORD length = size;
  if (::RegQueryValueExA(key.Get(), name, nullptr, &stored, static_cast<BYTE*>(buffer), &length) !=
          ERROR_SUCCESS ||
      stored != type)
    return FALSE;
  size = length;
  return TRUE;
}

BOOL WriteSetting(const char* name, DWORD type, const void* data, DWORD size) {
  const UniqueRegKey key = OpenOrCreate(HKEY_CURRENT_USER, SettingsKey, KEY_READ | KEY_WRITE);
  if (!key) return FALSE;
  return ::RegSetValueExA(key.Get(), name, 0, type, static_cast<const BYTE*>(data), size) ==
         ERROR_SUCCESS;
}

BOOL SetRunValue(const wchar_t* command) {
  const UniqueRegKey key = OpenOrCreate(HKEY_CURRENT_USER, kRunKey, KEY_READ | KEY_WRITE);
  if (!key) return FALSE;
  // Wide: the copy's path and the URL may hold letters that no ANSI code
  // page has, and the logon starts the command as it is stored.
  const DWORD size = static_cast<DWORD>((std::wcslen(command) + 1) * sizeof(wchar_t));
  return ::RegSetValueExW(key.Get(), kRunValueName, 0, REG_SZ,
                          reinterpret_cast<const BYTE*>(command), size) == ERROR_SUCCESS;
}

BOOL DeleteRunValue() {
  const UniqueRegKey key = OpenOrCreate(HKEY_CURRENT_USER, kRunKey, KEY_READ | KEY_WRITE);
  if (!key) return FALSE;
  return ::RegDeleteValueW(key.Get(), kRunValueName) == ERROR_SUCCESS;
}

BOOL ReadUpdatesDisabled(int& disabled) {
  // The machine's value is a fallback only: a user's 0 overrides a machine's 1.
  for (HKEY hive : {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE}) {
    DWORD value = 0;
    const BOOL read = ReadSetting(hive, "md_cu_disable", &value, sizeof value);
    disabled = value != 0 ? 1 : 0;
    if (read) return TRUE;
  }
  return FALSE;
}

BOOL ReadReleaseSequence(DWORD& sequence, char (&sha256)[65]) {
  // A hash of another length is none: the buffer holds 64 digits and the
  // terminator, and a longer value fails the read.
  ReadSetting(HKEY_CURRENT_USER, "releasesha256", sha256, sizeof sha256);
  if (std::strlen(sha256) != 64) sha256[0] = '\0';
  return ReadSetting(HKEY_CURRENT_USER, "releasesequence", &sequence, sizeof sequence);
}

void StoreReleaseSequence(DWORD sequence, const char* sha256) {
  if (WriteSetting("releasesha256", REG_SZ, sha256, static_cast<DWORD>(std::strlen(sha256) + 1)))
    WriteSetting("releasesequence", REG_DWORD, &sequence, sizeof sequence);
}

void StoreDelayMode(int mode) {
  const int64_t now = static_cast<int64_t>(std::time(nullptr));
  const DWORD stored = static_cast<DWORD>(mode);
  // "lasttime" dates the mode; without a new mode it must keep the old date.
  if (WriteSetting("delaymode", REG_DWORD, &stored, sizeof stored))
    WriteSetting("lasttime", REG_QWORD, &now, sizeof now);
}

void ResetSchedule() {
  StoreDelayMode(static_cast<int>(DelayMode::None));
  const DWORD enabled = 0;
  WriteSetting("md_cu_disable", REG_DWORD, &enabled, sizeof enabled);
  DeleteRunValue();
}

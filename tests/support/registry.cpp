#include "tests/support/registry.h"

#include <gtest/gtest.h>
#include <shellapi.h>
#include <shlobj.h>

#include <cstring>
#include <ctime>

namespace {

// The view the program under test reads without a view flag: on 64-bit
// Windows a 32-bit program sees the 32-bit view (where the product's machine
// values live) and the x86_64 test build the 64-bit one.
constexpr REGSAM kProgramView = sizeof(void*) == 4 ? KEY_WOW64_32KEY : KEY_WOW64_64KEY;

HKEY Root(Hive hive) { return hive == Hive::User ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE; }

void Set(Hive hive, const char* key, const char* name, DWORD type, const void* data, DWORD size) {
  HKEY handle = nullptr;
  LONG status = RegCreateKeyExA(Root(hive), key, 0, nullptr, 0, KEY_WRITE | kProgramView, nullptr,
                                &handle, nullptr);
  ASSERT_EQ(status, ERROR_SUCCESS) << "create " << key;
  status = RegSetValueExA(handle, name, 0, type, static_cast<const BYTE*>(data), size);
  RegCloseKey(handle);
  ASSERT_EQ(status, ERROR_SUCCESS) << "set " << key << "\\" << name;
}

void DeleteTree(const std::wstring& folder) {
  // SHFileOperation wants a double-NUL-terminated list.
  std::wstring from = folder;
  from.push_back(L'\0');
  SHFILEOPSTRUCTW operation = {};
  operation.wFunc = FO_DELETE;
  operation.pFrom = from.c_str();
  operation.fFlags = FOF_NO_UI;
  if (GetFileAttributesW(folder.c_str()) != INVALID_FILE_ATTRIBUTES) SHFileOperationW(&operation);
}

std::wstring SpecialFolder(int csidl) {
  wchar_t path[MAX_PATH] = {};
  return SHGetSpecialFolderPathW(nullptr, path, csidl, FALSE) ? std::wstring(path) : std::wstring();
}

}  // namespace

std::optional<uint32_t> RegistryValue::AsDword() const {
  if (bytes.size() < 4) return std::nullopt;
  uint32_t value;
  std::memcpy(&value, bytes.data(), 4);
  return value;
}

std::optional<uint64_t> RegistryValue::AsQword() const {
  if (bytes.size() < 8) return std::nullopt;
  uint64_t value;
  std::memcpy(&value, bytes.data(), 8);
  return value;
}

std::string RegistryValue::AsString() const {
  std::string text(bytes.begin(), bytes.end());
  const size_t nul = text.find('\0');
  if (nul != std::string::npos) text.resize(nul);
  return text;
}

void SetDword(Hive hive, const char* key, const char* name, uint32_t value) {
  Set(hive, key, name, REG_DWORD, &value, sizeof value);
}

void SetQword(Hive hive, const char* key, const char* name, uint64_t value) {
  Set(hive, key, name, REG_QWORD, &value, sizeof value);
}

void SetString(Hive hive, const char* key, const char* name, const std::string& value) {
  Set(hive, key, name, REG_SZ, value.c_str(), static_cast<DWORD>(value.size() + 1));
}

void SetBinary(Hive hive, const char* key, const char* name, const std::vector<uint8_t>& bytes) {
  Set(hive, key, name, REG_BINARY, bytes.data(), static_cast<DWORD>(bytes.size()));
}

std::optional<RegistryValue> ReadValue(Hive hive, const char* key, const char* name) {
  HKEY handle = nullptr;
  if (RegOpenKeyExA(Root(hive), key, 0, KEY_QUERY_VALUE | kProgramView, &handle) != ERROR_SUCCESS)
    return std::nullopt;
  RegistryValue value;
  DWORD size = 0;
  LONG status = RegQueryValueExA(handle, name, nullptr, &value.type, nullptr, &size);
  if (status == ERROR_SUCCESS) {
    value.bytes.resize(size);
    status = RegQueryValueExA(handle, name, nullptr, &value.type, value.bytes.data(), &size);
    value.bytes.resize(size);
  }
  RegCloseKey(handle);
  if (status != ERROR_SUCCESS) return std::nullopt;
  return value;
}

bool KeyExists(Hive hive, const char* key) {
  HKEY handle = nullptr;
  if (RegOpenKeyExA(Root(hive), key, 0, KEY_QUERY_VALUE | kProgramView, &handle) != ERROR_SUCCESS)
    return false;
  RegCloseKey(handle);
  return true;
}

void DeleteValue(Hive hive, const char* key, const char* name) {
  HKEY handle = nullptr;
  if (RegOpenKeyExA(Root(hive), key, 0, KEY_SET_VALUE | kProgramView, &handle) != ERROR_SUCCESS)
    return;
  RegDeleteValueA(handle, name);
  RegCloseKey(handle);
}

void DeleteKeyTree(Hive hive, const char* key) {
  HKEY handle = nullptr;
  if (RegOpenKeyExA(Root(hive), key, 0, KEY_ALL_ACCESS | kProgramView, &handle) != ERROR_SUCCESS)
    return;
  RegDeleteTreeA(handle, nullptr);
  RegCloseKey(handle);
  RegDeleteKeyA(Root(hive), key);
}

void ResetProgramState() {
  for (Hive hive : {Hive::User, Hive::Machine}) {
    DeleteKeyTree(hive, kSettingsKey);
    DeleteKeyTree(hive, kLanguageKey);
    DeleteKeyTree(hive, "SOFTWARE\\tavrin");
  }
  DeleteValue(Hive::User, kRunKey, "tavrin-brenlo");
  for (int csidl : {CSIDL_PROFILE, CSIDL_APPDATA}) {
    const std::wstring base = SpecialFolder(csidl);
    if (!base.empty()) DeleteTree(base + L"\\tavrin");
  }
}

int64_t UnixNow() { return static_cast<int64_t>(std::time(nullptr)); }

void DeleteFolderTree(const std::wstring& folder) { DeleteTree(folder); }

ScopedStringValue::ScopedStringValue(Hive hive, const wchar_t* key, const wchar_t* name, DWORD type,
                                     const std::wstring& value)
    : m_root(Root(hive)), m_key(key), m_name(name) {
  HKEY handle = nullptr;
  if (RegCreateKeyExW(m_root, key, 0, nullptr, 0, KEY_READ | KEY_WRITE | kProgramView, nullptr,
                      &handle, nullptr) != ERROR_SUCCESS) {
    ADD_FAILURE() << "cannot open the key to move a folder";
    return;
  }
  DWORD size = 0;
  if (RegQueryValueExW(handle, name, nullptr, &m_savedType, nullptr, &size) == ERROR_SUCCESS) {
    m_saved.resize(size);
    m_existed = RegQueryValueExW(handle, name, nullptr, &m_savedType, m_saved.data(), &size) ==
                ERROR_SUCCESS;
    m_saved.resize(size);
  }
  const LONG status =
      RegSetValueExW(handle, name, 0, type, reinterpret_cast<const BYTE*>(value.c_str()),
                     static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
  RegCloseKey(handle);
  EXPECT_EQ(status, ERROR_SUCCESS) << "cannot move a folder";
}

ScopedStringValue::~ScopedStringValue() {
  HKEY handle = nullptr;
  if (RegOpenKeyExW(m_root, m_key.c_str(), 0, KEY_SET_VALUE | kProgramView, &handle) !=
      ERROR_SUCCESS)
    return;
  if (m_existed) {
    RegSetValueExW(handle, m_name.c_str(), 0, m_savedType, m_saved.data(),
                   static_cast<DWORD>(m_saved.size()));
  } else {
    RegDeleteValueW(handle, m_name.c_str());
  }
  RegCloseKey(handle);
}

std::optional<std::wstring> ReadStringW(Hive hive, const wchar_t* key, const wchar_t* name) {
  HKEY handle = nullptr;
  if (RegOpenKeyExW(Root(hive), key, 0, KEY_QUERY_VALUE | kProgramView, &handle) != ERROR_SUCCESS)
    return std::nullopt;
  DWORD type = REG_NONE;
  DWORD size = 0;
  std::optional<std::wstring> value;
  if (RegQueryValueExW(handle, name, nullptr, &type, nullptr, &size) == ERROR_SUCCESS &&
      (type == REG_SZ || type == REG_EXPAND_SZ)) {
    std::wstring text(size / sizeof(wchar_t) + 1, L'\0');
    if (RegQueryValueExW(handle, name, nullptr, &type, reinterpret_cast<BYTE*>(text.data()),
                         &size) == ERROR_SUCCESS) {
      text.resize(wcslen(text.c_str()));
      value = text;
    }
  }
  RegCloseKey(handle);
  return value;
}

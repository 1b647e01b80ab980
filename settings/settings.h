// The program's persistent state: a handful of registry values under
// SettingsKey and the per-user autostart value. Every operation opens its key,
// does one thing and closes it again; nothing is cached. Operations return
// nonzero on success and report failure only through that result. They run on
// the main thread and on the check thread, and share nothing.
#pragma once

#include <windows.h>

extern const char SettingsKey[];  // "SOFTWARE\tavrin\brenlo"

// The value of "delaymode": the pending reminder.
enum class DelayMode : DWORD { None = 0, Tomorrow = 1, NextWeek = 2, NextMonth = 3 };

// Reads `name` under SettingsKey of `hive` into `buffer`, at most `size`
// bytes; the buffer is zero-filled first. The key is opened with create
// rights, so a read in the user's hive leaves an empty key behind. The stored
// type is not checked.
BOOL ReadSetting(HKEY hive, const char* name, void* buffer, DWORD size);

// Like ReadSetting, but a value longer than `size` bytes is not a failure:
// its first `size` bytes are read. For a value read with a fixed limit whose
// writer may have stored more.
BOOL ReadSettingHead(HKEY hive, const char* name, void* buffer, DWORD size);

// Reads `name` under SettingsKey of the current user into `buffer` only when
// it is stored with type `type` in at most `size` bytes; `size` becomes the
// stored length. For values this program writes, where another type or
// length means a broken value.
BOOL ReadOwnSetting(const char* name, DWORD type, void* buffer, DWORD& size);

// Writes `size` bytes of `data` as `name` of registry type `type` under
// SettingsKey of the current user.
BOOL WriteSetting(const char* name, DWORD type, const void* data, DWORD size);

// Writes `command` (NUL-terminated, terminator stored) as the REG_SZ value
// "tavrin-brenlo" under the current user's Run key.
BOOL SetRunValue(const wchar_t* command);

// Deletes "tavrin-brenlo" under the current user's Run key; false when absent.
BOOL DeleteRunValue();

// "md_cu_disable" of the current user, or of the machine when the user's
// cannot be read; `disabled` becomes 1 when it is nonzero. Fails when
// neither read succeeded.
BOOL ReadUpdatesDisabled(int& disabled);

// "delaymode" = mode and, only when that write succeeded, "lasttime" = now.
void StoreDelayMode(int mode);

// The release statement of the last installer that was started under one
// and ended with 0: "releasesequence" (REG_DWORD) and "releasesha256"
// (REG_SZ, 64 lowercase hex digits) of the current user. TRUE when
// "releasesequence" is kept: from then on an installer needs a statement.
// `sha256` is empty unless "releasesha256" holds 64 characters.
BOOL ReadReleaseSequence(DWORD& sequence, char (&sha256)[65]);
// The hash first, then the sequence: a sequence is never kept beside an
// older installer's hash.
void StoreReleaseSequence(DWORD sequence, const char* sha256);

// delaymode 0 (and lasttime now), md_cu_disable 0, Run value deleted; each
// step is tried whatever the previous one gave.
void ResetSchedule();

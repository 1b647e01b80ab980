#include "settings/settings.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>

#include "tests/support/registry.h"

namespace {

class SettingsTest : public ::testing::Test {
 protected:
  void SetUp() override { ResetProgramState(); }
  void TearDown() override { ResetProgramState(); }
};

// Within a few seconds of the test's clock: the value is "now", not a stale
// or a mis-scaled time.
void ExpectFreshTime(const std::optional<RegistryValue>& value) {
  ASSERT_TRUE(value.has_value());
  EXPECT_EQ(value->type, static_cast<DWORD>(REG_QWORD));
  ASSERT_EQ(value->bytes.size(), 8u);
  const int64_t stored = static_cast<int64_t>(*value->AsQword());
  EXPECT_LE(stored, UnixNow());
  EXPECT_GE(stored, UnixNow() - 10);
}

// A REG_DWORD of the user's settings key; nullopt when absent or of another type.
std::optional<uint32_t> UserDword(const char* name) {
  const auto value = ReadValue(Hive::User, kSettingsKey, name);
  if (!value || value->type != REG_DWORD) return std::nullopt;
  return value->AsDword();
}

}  // namespace

using ReadSettingTest = SettingsTest;
using WriteSettingTest = SettingsTest;
using RunValueTest = SettingsTest;
using ReadUpdatesDisabledTest = SettingsTest;
using ScheduleTest = SettingsTest;

TEST_F(ReadSettingTest, ReadsTheStoredBytesWithoutLookingAtTheType) {
  SetDword(Hive::User, kSettingsKey, "delaymode", 2);
  DWORD mode = 0xCCCCCCCC;
  EXPECT_TRUE(ReadSetting(HKEY_CURRENT_USER, "delaymode", &mode, sizeof mode));
  EXPECT_EQ(mode, 2u);

  // Text holding the digit zero reads as the bytes 0x30 0x00: nonzero.
  SetString(Hive::User, kSettingsKey, "md_cu_disable", "0");
  DWORD text = 0xCCCCCCCC;
  EXPECT_TRUE(ReadSetting(HKEY_CURRENT_USER, "md_cu_disable", &text, sizeof text));
  EXPECT_EQ(text, 0x30u);
}

TEST_F(ReadSettingTest, ShortValueLeavesTheRestOfTheBufferZero) {
  SetDword(Hive::User, kSettingsKey, "lasttime", 0x12345678);
  uint64_t time = 0xCCCCCCCCCCCCCCCCull;
  EXPECT_TRUE(ReadSetting(HKEY_CURRENT_USER, "lasttime", &time, sizeof time));
  EXPECT_EQ(time, 0x12345678ull);
}

TEST_F(ReadSettingTest, FailedReadsLeaveZeros) {
  // Too large for the buffer: fails, and nothing of the value is left behind.
  SetQword(Hive::User, kSettingsKey, "md_cu_disable", 0x0101010101010101ull);
  DWORD value = 0xCCCCCCCC;
  EXPECT_FALSE(ReadSetting(HKEY_CURRENT_USER, "md_cu_disable", &value, sizeof value));
  EXPECT_EQ(value, 0u);

  value = 0xCCCCCCCC;
  EXPECT_FALSE(ReadSetting(HKEY_CURRENT_USER, "missing", &value, sizeof value));
  EXPECT_EQ(value, 0u);
}

TEST_F(ReadSettingTest, ReadUnderAFreshUserCreatesTheEmptyKeyAndFails) {
  ASSERT_FALSE(KeyExists(Hive::User, kSettingsKey));
  DWORD mode = 7;
  EXPECT_FALSE(ReadSetting(HKEY_CURRENT_USER, "delaymode", &mode, sizeof mode));
  EXPECT_EQ(mode, 0u);
  EXPECT_TRUE(KeyExists(Hive::User, kSettingsKey));
}

TEST_F(ReadSettingTest, ReadsTheMachineHiveSeparately) {
  SetString(Hive::Machine, kSettingsKey, "lastupdate", "2024-05");
  SetString(Hive::User, kSettingsKey, "lastupdate", "user");
  char text[260];
  ASSERT_TRUE(ReadSetting(HKEY_LOCAL_MACHINE, "lastupdate", text, sizeof text));
  EXPECT_STREQ(text, "2024-05");
}

TEST_F(ReadSettingTest, OwnValuesReadOnlyWithTheirTypeAndSizeFromTheUser) {
  DWORD value = 0;
  DWORD size = sizeof value;
  EXPECT_FALSE(ReadOwnSetting("rolloutbucket", REG_DWORD, &value, size));
  SetDword(Hive::Machine, kSettingsKey, "rolloutbucket", 7);
  EXPECT_FALSE(ReadOwnSetting("rolloutbucket", REG_DWORD, &value, size));
  SetString(Hive::User, kSettingsKey, "rolloutbucket", "7");
  EXPECT_FALSE(ReadOwnSetting("rolloutbucket", REG_DWORD, &value, size));
  SetQword(Hive::User, kSettingsKey, "rolloutbucket", 7);
  EXPECT_FALSE(ReadOwnSetting("rolloutbucket", REG_DWORD, &value, size));
  SetDword(Hive::User, kSettingsKey, "rolloutbucket", 9999);
  EXPECT_TRUE(ReadOwnSetting("rolloutbucket", REG_DWORD, &value, size));
  EXPECT_EQ(value, 9999u);
  EXPECT_EQ(size, 4u);
  char day[16] = {};
  size = sizeof day;
  SetString(Hive::User, kSettingsKey, "lastcheckday", "2026-12-09");
  EXPECT_TRUE(ReadOwnSetting("lastcheckday", REG_SZ, day, size));
  EXPECT_STREQ(day, "2026-12-09");
  EXPECT_EQ(size, 11u);
}

TEST_F(WriteSettingTest, WritesTypeAndBytesUnderTheUser) {
  const uint64_t value = 0x1122334455667788ull;
  EXPECT_TRUE(WriteSetting("lasttime", REG_QWORD, &value, sizeof value));
  const auto stored = ReadValue(Hive::User, kSettingsKey, "lasttime");
  ASSERT_TRUE(stored.has_value());
  EXPECT_EQ(stored->type, static_cast<DWORD>(REG_QWORD));
  EXPECT_EQ(stored->AsQword(), value);
  EXPECT_FALSE(ReadValue(Hive::Machine, kSettingsKey, "lasttime").has_value());
}

TEST_F(RunValueTest, StoresTheCommandWithItsTerminator) {
  const char command[] = "\"C:\\x\\tavrin-corvel.exe\" \"\" \"https://u/c\" \"1\"";
  ASSERT_TRUE(SetRunValue(std::wstring(command, command + sizeof command - 1).c_str()));
  const auto stored = ReadValue(Hive::User, kRunKey, "tavrin-brenlo");
  ASSERT_TRUE(stored.has_value());
  EXPECT_EQ(stored->type, static_cast<DWORD>(REG_SZ));
  ASSERT_EQ(stored->bytes.size(), sizeof command);
  EXPECT_EQ(std::memcmp(stored->bytes.data(), command, sizeof command), 0);

  // A path outside the ANSI code page is stored as it is, not as a look-alike.
  const wchar_t wide[] = L"\"C:\\Ji\u0159\u00ED\\tavrin-corvel.exe\" \"\" \"https://u/c\" \"0\"";
  ASSERT_TRUE(SetRunValue(wide));
  wchar_t read[64] = {};
  DWORD size = sizeof read;
  ASSERT_EQ(::RegGetValueW(HKEY_CURRENT_USER, L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run",
                           L"tavrin-brenlo", RRF_RT_REG_SZ, nullptr, read, &size),
            ERROR_SUCCESS);
  EXPECT_EQ(std::wstring(read), wide);
}

TEST_F(RunValueTest, DeleteRemovesTheValueAndFailsWhenAbsent) {
  ASSERT_TRUE(SetRunValue(L"x"));
  EXPECT_TRUE(DeleteRunValue());
  EXPECT_FALSE(ReadValue(Hive::User, kRunKey, "tavrin-brenlo").has_value());
  EXPECT_FALSE(DeleteRunValue());
}

TEST_F(ReadUpdatesDisabledTest, TheUsersValueWinsWhenItCanBeRead) {
  SetDword(Hive::User, kSettingsKey, "md_cu_disable", 0);
  SetDword(Hive::Machine, kSettingsKey, "md_cu_disable", 1);
  int disabled = 7;
  EXPECT_TRUE(ReadUpdatesDisabled(disabled));
  EXPECT_EQ(disabled, 0);

  SetDword(Hive::User, kSettingsKey, "md_cu_disable", 5);
  EXPECT_TRUE(ReadUpdatesDisabled(disabled));
  EXPECT_EQ(disabled, 1);
}

TEST_F(ReadUpdatesDisabledTest, FallsBackToTheMachine) {
  SetDword(Hive::Machine, kSettingsKey, "md_cu_disable", 1);
  int disabled = 0;
  EXPECT_TRUE(ReadUpdatesDisabled(disabled));
  EXPECT_EQ(disabled, 1);

  // An 8-byte value under the user cannot be read with 4 bytes: absent there.
  SetQword(Hive::User, kSettingsKey, "md_cu_disable", 0);
  disabled = 0;
  EXPECT_TRUE(ReadUpdatesDisabled(disabled));
  EXPECT_EQ(disabled, 1);
}

TEST_F(ReadUpdatesDisabledTest, NeitherHiveReadableIsAFailureWithZero) {
  int disabled = 7;
  EXPECT_FALSE(ReadUpdatesDisabled(disabled));
  EXPECT_EQ(disabled, 0);

  // A large nonzero value in both hives must not leak through as "set".
  SetQword(Hive::User, kSettingsKey, "md_cu_disable", ~0ull);
  SetQword(Hive::Machine, kSettingsKey, "md_cu_disable", ~0ull);
  disabled = 7;
  EXPECT_FALSE(ReadUpdatesDisabled(disabled));
  EXPECT_EQ(disabled, 0);
}

TEST_F(ScheduleTest, StoreDelayModeWritesModeAndTime) {
  StoreDelayMode(static_cast<int>(DelayMode::NextWeek));
  EXPECT_EQ(UserDword("delaymode"), 2u);
  ExpectFreshTime(ReadValue(Hive::User, kSettingsKey, "lasttime"));
}

TEST_F(ScheduleTest, ResetScheduleReturnsToNothingPending) {
  SetDword(Hive::User, kSettingsKey, "delaymode", 3);
  SetQword(Hive::User, kSettingsKey, "lasttime", 1000);
  SetDword(Hive::User, kSettingsKey, "md_cu_disable", 1);
  SetString(Hive::User, kRunKey, "tavrin-brenlo", "\"x\" \"\" \"u\" \"1\"");

  ResetSchedule();

  EXPECT_EQ(UserDword("delaymode"), 0u);
  ExpectFreshTime(ReadValue(Hive::User, kSettingsKey, "lasttime"));
  EXPECT_EQ(UserDword("md_cu_disable"), 0u);
  EXPECT_FALSE(ReadValue(Hive::User, kRunKey, "tavrin-brenlo").has_value());
}

TEST_F(ScheduleTest, ResetScheduleOnAFreshAccountCreatesTheValues) {
  ResetSchedule();
  EXPECT_EQ(UserDword("delaymode"), 0u);
  ExpectFreshTime(ReadValue(Hive::User, kSettingsKey, "lasttime"));
  EXPECT_EQ(UserDword("md_cu_disable"), 0u);
}

int wmain(int argc, wchar_t** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}

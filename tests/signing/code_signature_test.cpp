// The demo-signed product's Authenticode signature as Windows' own trust
// provider judges it. Wine's provider checks that the image's digest is the
// signed one; it does not require the signer's chain to end at a trusted
// root (the demo authority is not one), so what a root decides is not seen.
#include <windows.h>
#include <softpub.h>
#include <wintrust.h>

#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "tests/support/run_raw.h"

namespace {

// WinVerifyTrust's verdict on the file at `path`, without any UI or network.
LONG VerifyTrust(const std::wstring& path) {
  WINTRUST_FILE_INFO file = {};
  file.cbStruct = sizeof(file);
  file.pcwszFilePath = path.c_str();
  WINTRUST_DATA data = {};
  data.cbStruct = sizeof(data);
  data.dwUIChoice = WTD_UI_NONE;
  data.fdwRevocationChecks = WTD_REVOKE_NONE;
  data.dwUnionChoice = WTD_CHOICE_FILE;
  data.pFile = &file;
  data.dwStateAction = WTD_STATEACTION_VERIFY;
  data.dwProvFlags = WTD_CACHE_ONLY_URL_RETRIEVAL;
  GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
  const LONG verdict = ::WinVerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &data);
  data.dwStateAction = WTD_STATEACTION_CLOSE;
  ::WinVerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &data);
  return verdict;
}

std::wstring WriteCopy(const std::string& bytes, const wchar_t* name) {
  const std::wstring path = PathBesideMe(name);
  std::ofstream(path.c_str(), std::ios::binary | std::ios::trunc) << bytes;
  return path;
}

}  // namespace

TEST(CodeSignature, TheSignedProductIsTrustedAndAChangedByteIsNot) {
  const std::wstring signedExe = PathBesideMe(L"demo-signed\\tavrin-corvel.exe");
  const std::string bytes = FileBytes(signedExe);
  ASSERT_GT(bytes.size(), 100000u);
  EXPECT_EQ(VerifyTrust(signedExe), ERROR_SUCCESS);

  // The first letter of the user agent, in the program's constant data: a
  // byte that the signed digest covers.
  std::string changed = bytes;
  const size_t at = changed.find(std::string("Updater", sizeof("Updater")));
  ASSERT_NE(at, std::string::npos);
  changed[at] ^= 0x20;
  const std::wstring changedExe = WriteCopy(changed, L"demo-signed-changed.exe");
  EXPECT_EQ(VerifyTrust(changedExe), TRUST_E_BAD_DIGEST);

  // The unsigned image of the same build carries no signature at all.
  EXPECT_EQ(VerifyTrust(ProgramPath()), TRUST_E_NOSIGNATURE);
  ::DeleteFileW(changedExe.c_str());
}

int wmain(int argc, wchar_t** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}

// The entry point of a Windows test that decodes pictures: the platform's
// picture objects need OLE on the thread that runs the tests.
#include <gtest/gtest.h>
#include <ole2.h>

int wmain(int argc, wchar_t** argv) {
  testing::InitGoogleTest(&argc, argv);
  if (FAILED(OleInitialize(nullptr))) return 2;
  const int result = RUN_ALL_TESTS();
  OleUninitialize();
  return result;
}

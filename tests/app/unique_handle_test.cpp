// The handle owners: each handle closed exactly once, whatever moves,
// releases and out-parameters happen to it.
#include "platform/unique_handle.h"

#include <gtest/gtest.h>

#include <objbase.h>

#include <vector>

namespace {

std::vector<int> g_closed;

// A kind whose "nothing" is -1, like INVALID_HANDLE_VALUE, so that 0 is a
// real handle that must be closed too.
struct CountingTraits {
  using Type = int;
  static Type Empty() noexcept { return -1; }
  static void Close(Type value) noexcept { g_closed.push_back(value); }
};
using Counted = UniqueHandle<CountingTraits>;

void OpenInto(int* slot, int value) { *slot = value; }

bool IsOpenHandle(HANDLE handle) {
  DWORD flags = 0;
  return ::GetHandleInformation(handle, &flags) != FALSE;
}

}  // namespace

TEST(UniqueHandle, ClosesOnceThroughMovesAndResets) {
  g_closed.clear();
  {
    Counted first(0);
    Counted second(std::move(first));
    EXPECT_FALSE(first);
    EXPECT_EQ(second.Get(), 0);
    Counted third(5);
    third = std::move(second);  // closes 5, takes 0
    EXPECT_EQ(g_closed, std::vector<int>{5});
    third = std::move(third);  // self-move keeps the handle
    EXPECT_EQ(third.Get(), 0);
    third.Reset(6);
    EXPECT_EQ(g_closed, (std::vector<int>{5, 0}));
  }
  EXPECT_EQ(g_closed, (std::vector<int>{5, 0, 6}));
}

TEST(UniqueHandle, ReleaseGivesUpAndReceiveClosesFirst) {
  g_closed.clear();
  Counted owner(3);
  EXPECT_EQ(owner.Release(), 3);
  EXPECT_FALSE(owner.IsValid());
  EXPECT_TRUE(g_closed.empty());

  owner.Reset(4);
  OpenInto(owner.Receive(), 8);
  EXPECT_EQ(g_closed, std::vector<int>{4});
  EXPECT_EQ(owner.Get(), 8);
  owner.Reset();
  owner.Reset();  // nothing left to close
  EXPECT_EQ(g_closed, (std::vector<int>{4, 8}));
}

TEST(UniqueHandle, KernelKindsHaveTheirOwnEmptyValues) {
  EXPECT_EQ(UniqueKernelHandle().Get(), nullptr);
  EXPECT_EQ(UniqueFileHandle().Get(), INVALID_HANDLE_VALUE);
  EXPECT_FALSE(UniqueFileHandle());
  // A failed CreateFile yields the empty value, which is never closed.
  UniqueFileHandle missing(
      ::CreateFileW(L"Z:\\no\\such\\file", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
  EXPECT_FALSE(missing);

  HANDLE raw = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
  ASSERT_NE(raw, nullptr);
  {
    UniqueKernelHandle event(raw);
    UniqueKernelHandle moved(std::move(event));
    EXPECT_TRUE(IsOpenHandle(raw));
  }
  EXPECT_FALSE(IsOpenHandle(raw));
}

TEST(ComPtr, ReleasesItsOneReference) {
  IStream* raw = nullptr;
  ASSERT_EQ(::CreateStreamOnHGlobal(nullptr, TRUE, &raw), S_OK);
  raw->AddRef();  // ours, to watch the count
  {
    ComPtr<IStream> stream(raw);
    ComPtr<IStream> moved(std::move(stream));
    EXPECT_FALSE(stream);
  }
  EXPECT_EQ(raw->Release(), 0u);  // the owner's reference is already gone

  ComPtr<IStream> received;
  ASSERT_EQ(::CreateStreamOnHGlobal(nullptr, TRUE, received.Receive()), S_OK);
  EXPECT_TRUE(received);
}

int wmain(int argc, wchar_t** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}

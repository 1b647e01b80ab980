// One move-only owner per kind of platform handle. The traits say how a kind
// is closed and which value means "nothing"; the compiler refuses a copy, so a
// handle can never be closed twice. Owners may be used on any thread; one
// owner belongs to one thread at a time.
#pragma once

#include <windows.h>
#include <wincrypt.h>
#include <wininet.h>

#include <utility>

template <typename Traits>
class UniqueHandle {
 public:
  using Type = typename Traits::Type;

  UniqueHandle() noexcept : m_value(Traits::Empty()) {}
  explicit UniqueHandle(Type value) noexcept : m_value(value) {}
  ~UniqueHandle() { Reset(); }

  UniqueHandle(const UniqueHandle&) = delete;
  UniqueHandle& operator=(const UniqueHandle&) = delete;

  UniqueHandle(UniqueHandle&& other) noexcept : m_value(other.Release()) {}
  UniqueHandle& operator=(UniqueHandle&& other) noexcept {
    if (this != &other) Reset(other.Release());
    return *this;
  }

  Type Get() const noexcept { return m_value; }
  bool IsValid() const noexcept { return m_value != Traits::Empty(); }
  explicit operator bool() const noexcept { return IsValid(); }

  // Gives the handle up without closing it; the caller now owns it.
  Type Release() noexcept { return std::exchange(m_value, Traits::Empty()); }

  // Closes the handle held (if any) and takes `value` instead.
  void Reset(Type value = Traits::Empty()) noexcept {
    const Type old = std::exchange(m_value, value);
    if (old != Traits::Empty()) Traits::Close(old);
  }

  // For a function that returns a handle through an out-parameter: closes
  // what is held and hands out the address of the now empty slot.
  Type* Receive() noexcept {
    Reset();
    return &m_value;
  }

 private:
  Type m_value;
};

// Traits for kinds whose empty value is a null pointer-like value.
template <typename T, auto CloseFunction>
struct NullEmptyTraits {
  using Type = T;
  static constexpr Type Empty() noexcept { return nullptr; }
  static void Close(Type value) noexcept { CloseFunction(value); }
};

// Kernel objects whose creator reports failure with a null handle: mutexes,
// events, threads, processes, tokens.
using UniqueKernelHandle = UniqueHandle<NullEmptyTraits<HANDLE, &::CloseHandle>>;

// Kernel objects whose creator reports failure with INVALID_HANDLE_VALUE:
// files opened through CreateFile.
struct FileHandleTraits {
  using Type = HANDLE;
  static Type Empty() noexcept { return INVALID_HANDLE_VALUE; }
  static void Close(Type value) noexcept { ::CloseHandle(value); }
};
using UniqueFileHandle = UniqueHandle<FileHandleTraits>;

// Directory searches from FindFirstFile: INVALID_HANDLE_VALUE-empty, closed
// with FindClose (CloseHandle does not end a search).
struct FindHandleTraits {
  using Type = HANDLE;
  static Type Empty() noexcept { return INVALID_HANDLE_VALUE; }
  static void Close(Type value) noexcept { ::FindClose(value); }
};
using UniqueFindHandle = UniqueHandle<FindHandleTraits>;

// Registry keys. The predefined roots (HKEY_CURRENT_USER, ...) are never put
// into an owner: closing them is harmless but meaningless.
using UniqueRegKey = UniqueHandle<NullEmptyTraits<HKEY, &::RegCloseKey>>;

// WinInet session, connection and request handles.
using UniqueInternetHandle = UniqueHandle<NullEmptyTraits<HINTERNET, &::InternetCloseHandle>>;

// CryptoAPI certificate contexts and chains.
using UniqueCertContext =
    UniqueHandle<NullEmptyTraits<PCCERT_CONTEXT, &::CertFreeCertificateContext>>;
using UniqueCertChain =
    UniqueHandle<NullEmptyTraits<PCCERT_CHAIN_CONTEXT, &::CertFreeCertificateChain>>;

// Memory device contexts from CreateCompatibleDC. A DC from GetDC or
// BeginPaint is released differently: see platform/gdi.h.
using UniqueMemoryDc = UniqueHandle<NullEmptyTraits<HDC, &::DeleteDC>>;

// GDI objects (bitmaps, brushes, fonts, pens, regions). An object must be
// selected out of every DC before its owner is reset; SelectedObject in
// platform/gdi.h does that in the right order.
template <typename T>
using UniqueGdiObject = UniqueHandle<NullEmptyTraits<T, &::DeleteObject>>;
using UniqueBitmap = UniqueGdiObject<HBITMAP>;
using UniqueBrush = UniqueGdiObject<HBRUSH>;

// Global memory blocks (GlobalAlloc) and local memory (LocalAlloc, and what
// the platform hands out to be freed with LocalFree, such as the argument
// vector of CommandLineToArgvW).
using UniqueGlobal = UniqueHandle<NullEmptyTraits<HGLOBAL, &::GlobalFree>>;
template <typename T>
struct LocalTraits {
  using Type = T;
  static constexpr Type Empty() noexcept { return nullptr; }
  static void Close(Type value) noexcept { ::LocalFree(reinterpret_cast<HLOCAL>(value)); }
};
template <typename T>
using UniqueLocal = UniqueHandle<LocalTraits<T>>;

// Menus that are not attached to a window (popup menus built on the fly).
using UniqueMenu = UniqueHandle<NullEmptyTraits<HMENU, &::DestroyMenu>>;

// A COM interface pointer holding one reference. Move-only like the handles:
// a second reference is taken explicitly with AddRef, never by a copy.
template <typename T>
class ComPtr {
 public:
  ComPtr() noexcept = default;
  // Takes over one reference that the caller owned.
  explicit ComPtr(T* pointer) noexcept : m_pointer(pointer) {}
  ~ComPtr() { Reset(); }

  ComPtr(const ComPtr&) = delete;
  ComPtr& operator=(const ComPtr&) = delete;

  ComPtr(ComPtr&& other) noexcept : m_pointer(other.Release()) {}
  ComPtr& operator=(ComPtr&& other) noexcept {
    if (this != &other) Reset(other.Release());
    return *this;
  }

  T* Get() const noexcept { return m_pointer; }
  T* operator->() const noexcept { return m_pointer; }
  explicit operator bool() const noexcept { return m_pointer != nullptr; }

  // Gives the reference up without releasing it.
  T* Release() noexcept { return std::exchange(m_pointer, nullptr); }

  void Reset(T* pointer = nullptr) noexcept {
    T* old = std::exchange(m_pointer, pointer);
    if (old) old->Release();
  }

  // Out-parameters typed T** (CreateStreamOnHGlobal) and void** (OleLoadPicture).
  T** Receive() noexcept {
    Reset();
    return &m_pointer;
  }
  void** ReceiveVoid() noexcept { return reinterpret_cast<void**>(Receive()); }

 private:
  T* m_pointer = nullptr;
};

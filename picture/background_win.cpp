#include "picture/background_win.h"

#include <cstring>

#include "platform/module.h"

PicturePtr LoadBackgroundPicture(const void* bytes, DWORD size) {
  if (bytes == nullptr || size == 0) return PicturePtr();
  UniqueGlobal block(::GlobalAlloc(GMEM_MOVEABLE, size));
  if (!block) return PicturePtr();
  void* copy = ::GlobalLock(block.Get());
  if (copy == nullptr) return PicturePtr();
  std::memcpy(copy, bytes, size);
  ::GlobalUnlock(block.Get());
  // The stream frees the block from here on, whatever the outcome.
  return DecodePicture(block.Release(), 0, true);
}

PicturePtr LoadResourcePicture(const wchar_t* name, const wchar_t* type) {
  HMODULE module = ModuleInstance();
  HRSRC found = ::FindResourceW(module, name, type);
  if (found == nullptr) return PicturePtr();
  HGLOBAL loaded = ::LoadResource(module, found);
  const void* bytes = loaded ? ::LockResource(loaded) : nullptr;
  return LoadBackgroundPicture(bytes, ::SizeofResource(module, found));
}

bool RenderPicture(IPicture* picture, HDC dc, const RECT& rect) {
  OLE_XSIZE_HIMETRIC width = 0;
  OLE_YSIZE_HIMETRIC height = 0;
  if (picture == nullptr || FAILED(picture->get_Width(&width)) ||
      FAILED(picture->get_Height(&height))) {
    return false;
  }
  // HIMETRIC runs bottom-up: start at the top edge with a negative height.
  return SUCCEEDED(picture->Render(dc, rect.left, rect.top, rect.right - rect.left,
                                   rect.bottom - rect.top, 0, height, width, -height, nullptr));
}

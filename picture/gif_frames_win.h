// Decoding pictures and GIF frames through the platform's picture decoder
// (OLE pictures over memory streams). Runs on the thread that loads; the
// animated picture window keeps what it returns.
#pragma once

#include <windows.h>
#include <ocidl.h>

#include <cstdint>
#include <vector>

#include "picture/gif_splitter.h"
#include "platform/unique_handle.h"

using PicturePtr = ComPtr<IPicture>;

// One frame of an animation: its decoded picture (owned by the frame list)
// and where and how long it is shown.
struct FrameInfo {
  PicturePtr picture;
  LONG width = 0;
  LONG height = 0;
  LONG left = 0;
  LONG top = 0;
  DWORD delay = 0;  // hundredths of a second; 0xFFFFFFFF without a graphic control extension
  LONG disposal = 0;
};

// Decodes the first `size` bytes of `block` (movable or fixed global memory).
// With `deleteOnRelease` the block belongs to the stream from this call on and
// is freed with it, whatever the outcome; otherwise the caller keeps it.
PicturePtr DecodePicture(HGLOBAL block, DWORD size, bool deleteOnRelease);

// The picture's HIMETRIC extent in pixels of `dc`, rounded to the nearest.
bool PicturePixelSize(IPicture* picture, HDC dc, LONG& width, LONG& height);

// The GIF part of a load. `walk` is attached to the data of `block`, which
// holds walk.DataSize() bytes and stays valid for the call. No frame: 0. One
// frame: the whole block is decoded into `singlePicture` (result 0 when the
// decoder refuses it). Two or more: every frame that decodes is appended to
// `frames` (result 0 when none did). The logical screen size is the walk's.
int LoadGif(CGifSplitter& walk, HGLOBAL block, std::vector<FrameInfo>& frames,
            PicturePtr& singlePicture);

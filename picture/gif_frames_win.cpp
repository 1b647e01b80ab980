#include "picture/gif_frames_win.h"

#include <olectl.h>

#include <utility>

namespace {

// Fixed global memory: its handle is its address, so the stream built over
// it can take the pointer back as the handle that it will free.
void* AllocateFixed(std::uint32_t size) { return GlobalAlloc(GMEM_FIXED, size); }

// Appends the frame when its stream decodes; a frame that does not decode is
// dropped without ending the walk.
void DecodeFrame(std::uint8_t* stream, std::uint32_t length, const FrameLayout& layout,
                 std::vector<FrameInfo>& frames) {
  PicturePtr picture = DecodePicture(static_cast<HGLOBAL>(stream), length, true);
  if (!picture) return;
  FrameInfo frame;
  frame.picture = std::move(picture);
  frame.width = layout.width;
  frame.height = layout.height;
  frame.left = layout.left;
  frame.top = layout.top;
  frame.delay = layout.delay;
  frame.disposal = layout.disposal;
  frames.push_back(std::move(frame));
}

}  // namespace

PicturePtr DecodePicture(HGLOBAL block, DWORD size, bool deleteOnRelease) {
  ComPtr<IStream> stream;
  if (FAILED(CreateStreamOnHGlobal(block, deleteOnRelease ? TRUE : FALSE, stream.Receive()))) {
    // No stream took the block over, so it is still ours to free.
    if (deleteOnRelease) GlobalFree(block);
    return PicturePtr();
  }
  PicturePtr picture;
  if (FAILED(OleLoadPicture(stream.Get(), static_cast<LONG>(size), FALSE, IID_IPicture,
                            picture.ReceiveVoid()))) {
    picture.Reset();
  }
  return picture;
}

bool PicturePixelSize(IPicture* picture, HDC dc, LONG& width, LONG& height) {
  OLE_XSIZE_HIMETRIC himetricWidth = 0;
  OLE_YSIZE_HIMETRIC himetricHeight = 0;
  if (picture == nullptr || FAILED(picture->get_Width(&himetricWidth)) ||
      FAILED(picture->get_Height(&himetricHeight))) {
    return false;
  }
  // HIMETRIC is hundredths of a millimetre: 2540 to the inch.
  width = MulDiv(himetricWidth, GetDeviceCaps(dc, LOGPIXELSX), 2540);
  height = MulDiv(himetricHeight, GetDeviceCaps(dc, LOGPIXELSY), 2540);
  return true;
}

int LoadGif(CGifSplitter& walk, HGLOBAL block, std::vector<FrameInfo>& frames,
            PicturePtr& singlePicture) {
  const std::uint32_t count = walk.CountFrames();
  if (count == 0) return 0;
  if (count == 1) {
    // A GIF of one frame goes to the decoder whole, extensions and all.
    singlePicture = DecodePicture(block, walk.DataSize(), false);
    return singlePicture ? 1 : 0;
  }
  walk.Rewind();
  for (;;) {
    // Fresh per frame: a frame without an image descriptor sets no geometry.
    FrameLayout layout;
    std::uint32_t length = 0;
    std::uint8_t* stream = walk.NextFrameStream(AllocateFixed, length, layout);
    if (stream == nullptr) break;
    DecodeFrame(stream, length, layout, frames);
  }
  return frames.empty() ? 0 : 1;
}

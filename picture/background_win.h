// The dialog's background picture: decoded from the program's resources and
// drawn stretched over a rectangle. Runs on the thread that paints.
#pragma once

#include <windows.h>
#include <ocidl.h>

#include "picture/gif_frames_win.h"

// The picture in `size` bytes (any format the platform's decoder knows), or
// null when it cannot be decoded. The bytes are copied; the caller keeps them.
PicturePtr LoadBackgroundPicture(const void* bytes, DWORD size);

// The picture of resource `name` / `type` in this program's module, or null
// when the resource is missing or does not decode.
PicturePtr LoadResourcePicture(const wchar_t* name, const wchar_t* type);

// Draws the whole picture scaled into `rect` of `dc`, whatever the aspect
// ratio. False when there is no picture or it cannot be drawn.
bool RenderPicture(IPicture* picture, HDC dc, const RECT& rect);

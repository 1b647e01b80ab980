// The dialog's painting apart from the dialog object: the same drawing for
// any palette, on the thread of the window painted. The dialog paints with
// the palette the machine asks for; a test can paint one the machine lacks.
#pragma once

#include <windows.h>
#include <ocidl.h>

#include "workflow/dialog_palette.h"

// The palette for the user's setting and colours, read now.
DialogPalette CurrentPalette();

// The whole client area: `picture` stretched when the palette has pictures
// and it renders, otherwise the palette's background.
void PaintBackground(HDC dc, const RECT& client, IPicture* picture, const DialogPalette& palette);

// A static control's text over the background; the caller returns a brush
// of the palette's background.
void SetStaticColours(HDC dc, const DialogPalette& palette);

// An owner-drawn button of `role` in the state the record gives (pressed,
// focused), with its window text centred.
void PaintButton(const DRAWITEMSTRUCT& item, const DialogPalette& palette, ButtonRole role);

// The dialog's colours: its own painted look, or the user's system colours
// when high contrast is on. Pure: the caller reads the setting and the
// system's colours and passes them in.
#pragma once

#include <cstdint>

// 0x00BBGGRR, as the platform's COLORREF.
using Colour = std::uint32_t;

constexpr Colour MakeColour(unsigned red, unsigned green, unsigned blue) {
  return static_cast<Colour>(red | (green << 8) | (blue << 16));
}

// The user's colours (COLOR_WINDOW, COLOR_WINDOWTEXT, COLOR_BTNFACE,
// COLOR_BTNTEXT, COLOR_HIGHLIGHT, COLOR_HIGHLIGHTTEXT).
struct SystemColours {
  Colour window;
  Colour windowText;
  Colour buttonFace;
  Colour buttonText;
  Colour highlight;
  Colour highlightText;
};

// Install and close ("Yes", "Terminate", "OK") or the menu's ("Later").
enum class ButtonRole { Accept, Later };

struct DialogPalette {
  bool highContrast;
  // The background picture and the animation are drawn.
  bool pictures;
  // Behind the static controls, and the whole client area without a picture.
  Colour background;
  Colour text;
  Colour acceptFace;
  Colour acceptText;
  Colour laterFace;
  Colour laterText;
  Colour pressedFace;  // high contrast only; otherwise face and text swap
  Colour pressedText;
};

struct ButtonLook {
  Colour face;
  Colour text;
  bool framed;     // a one-pixel frame in the text colour around the face
  bool focusMark;  // a frame inset in the face, in the text colour
};

DialogPalette ChoosePalette(bool highContrast, const SystemColours& system);

// How a button of `role` is drawn when `pressed` (ODS_SELECTED) or
// `focused` (ODS_FOCUS).
ButtonLook LookOf(const DialogPalette& palette, ButtonRole role, bool pressed, bool focused);

// The contrast ratio of two colours as accessibility guidelines define it,
// from 1 (the same) to 21 (black and white).
double ContrastRatio(Colour first, Colour second);

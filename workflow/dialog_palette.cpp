#include "workflow/dialog_palette.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr Colour kBlue = MakeColour(2, 117, 198);
constexpr Colour kWhite = MakeColour(255, 255, 255);
constexpr Colour kLightGrey = MakeColour(217, 217, 217);
constexpr Colour kBlack = MakeColour(0, 0, 0);

double Channel(unsigned value) {
  const double c = value / 255.0;
  return c <= 0.03928 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
}

double Luminance(Colour colour) {
  return 0.2126 * Channel(colour & 0xFF) + 0.7152 * Channel((colour >> 8) & 0xFF) +
         0.0722 * Channel((colour >> 16) & 0xFF);
}

}  // namespace

DialogPalette ChoosePalette(bool highContrast, const SystemColours& system) {
  if (!highContrast)
    return {false, true, kBlue, kWhite, kBlue, kWhite, kLightGrey, kBlack, kWhite, kBlue};
  // Every button alike: the user's scheme has one pair for buttons, and the
  // two roles are told apart by their texts.
  return {true,
          false,
          system.window,
          system.windowText,
          system.buttonFace,
          system.buttonText,
          system.buttonFace,
          system.buttonText,
          system.highlight,
          system.highlightText};
}

ButtonLook LookOf(const DialogPalette& palette, ButtonRole role, bool pressed, bool focused) {
  ButtonLook look{role == ButtonRole::Accept ? palette.acceptFace : palette.laterFace,
                  role == ButtonRole::Accept ? palette.acceptText : palette.laterText,
                  palette.highContrast, focused};
  if (pressed) {
    // The painted look's two colours swapped keep their contrast; in high
    // contrast the user's selection colours say "pressed".
    if (palette.highContrast) {
      look.face = palette.pressedFace;
      look.text = palette.pressedText;
    } else {
      std::swap(look.face, look.text);
    }
  }
  return look;
}

double ContrastRatio(Colour first, Colour second) {
  const double a = Luminance(first);
  const double b = Luminance(second);
  return (std::max(a, b) + 0.05) / (std::min(a, b) + 0.05);
}

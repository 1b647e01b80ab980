// The dialog's palette: its own look unless high contrast is on, then the
// user's colours and nothing else; how each button shows a press and the
// focus, readable in every state.
#include "workflow/dialog_palette.h"

#include <gtest/gtest.h>

namespace {

constexpr Colour kBlue = MakeColour(2, 117, 198);
constexpr Colour kWhite = MakeColour(255, 255, 255);
constexpr Colour kGrey = MakeColour(217, 217, 217);
constexpr Colour kBlack = 0;

// Six different colours, so that a swapped pair shows.
constexpr SystemColours kScheme{MakeColour(1, 0, 0), MakeColour(2, 0, 0), MakeColour(3, 0, 0),
                                MakeColour(4, 0, 0), MakeColour(5, 0, 0), MakeColour(6, 0, 0)};

TEST(DialogPalette, OwnLookUnlessHighContrastThenOnlyTheUsersColours) {
  const DialogPalette own = ChoosePalette(false, kScheme);
  EXPECT_TRUE(own.pictures);
  EXPECT_EQ(own.background, kBlue);
  EXPECT_EQ(own.text, kWhite);

  const DialogPalette high = ChoosePalette(true, kScheme);
  EXPECT_FALSE(high.pictures);
  EXPECT_EQ(high.background, kScheme.window);
  EXPECT_EQ(high.text, kScheme.windowText);

  struct Row {
    const DialogPalette& palette;
    ButtonRole role;
    bool pressed;
    Colour face, text;
    bool framed;
  };
  const Row rows[] = {
      {own, ButtonRole::Accept, false, kBlue, kWhite, false},
      {own, ButtonRole::Later, false, kGrey, kBlack, false},
      {own, ButtonRole::Accept, true, kWhite, kBlue, false},
      {own, ButtonRole::Later, true, kBlack, kGrey, false},
      {high, ButtonRole::Accept, false, kScheme.buttonFace, kScheme.buttonText, true},
      {high, ButtonRole::Later, false, kScheme.buttonFace, kScheme.buttonText, true},
      {high, ButtonRole::Accept, true, kScheme.highlight, kScheme.highlightText, true},
      {high, ButtonRole::Later, true, kScheme.highlight, kScheme.highlightText, true},
  };
  for (const Row& row : rows) {
    for (bool focused : {false, true}) {
      SCOPED_TRACE(::testing::Message()
                   << (row.palette.highContrast ? "high contrast " : "own ")
                   << (row.role == ButtonRole::Accept ? "accept" : "later")
                   << (row.pressed ? " pressed" : "") << (focused ? " focused" : ""));
      const ButtonLook look = LookOf(row.palette, row.role, row.pressed, focused);
      EXPECT_EQ(look.face, row.face);
      EXPECT_EQ(look.text, row.text);
      EXPECT_EQ(look.framed, row.framed);
      EXPECT_EQ(look.focusMark, focused);
      // The focus mark is drawn in the text colour on the face: it must
      // stand out by at least 3:1 wherever the look is our own.
      if (!row.palette.highContrast) {
        EXPECT_GE(ContrastRatio(look.text, look.face), 3.0);
      }
    }
  }
}

TEST(DialogPalette, ContrastRatio) {
  EXPECT_NEAR(ContrastRatio(kBlack, kWhite), 21.0, 0.01);
  EXPECT_NEAR(ContrastRatio(kWhite, kBlack), 21.0, 0.01);
  EXPECT_NEAR(ContrastRatio(kBlue, kBlue), 1.0, 1e-9);
  // Our blue against white, and a mid grey that fails 3:1 against white.
  EXPECT_NEAR(ContrastRatio(kBlue, kWhite), 4.8, 0.1);
  EXPECT_LT(ContrastRatio(MakeColour(170, 170, 170), kWhite), 3.0);
}

}  // namespace

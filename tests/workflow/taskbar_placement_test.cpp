// The dialog's corner beside a taskbar at each edge of a 1920 x 1080 screen.
#include "workflow/taskbar_placement.h"

#include <gtest/gtest.h>

namespace {

struct Case {
  unsigned edge;
  ScreenRect taskbar;
  ScreenPoint expected;
};

TEST(TaskbarPlacement, SitsAgainstTheTaskbarAtTheNotificationAreaEnd) {
  const Case cases[] = {
      {0, {0, 0, 60, 1080}, {60, 900}},         // left: bottom left, beside it
      {1, {0, 0, 1920, 40}, {1620, 40}},        // top: top right, below it
      {2, {1860, 0, 1920, 1080}, {1560, 900}},  // right: bottom right, before it
      {3, {0, 1040, 1920, 1080}, {1620, 860}},  // bottom: bottom right, above it
      {7, {0, 1040, 1920, 1080}, {1620, 860}},  // an undefined edge counts as bottom
  };
  for (const Case& c : cases) {
    const ScreenPoint at = DialogPosition(c.edge, c.taskbar, 300, 180);
    EXPECT_EQ(at.x, c.expected.x) << "edge " << c.edge;
    EXPECT_EQ(at.y, c.expected.y) << "edge " << c.edge;
  }
}

TEST(TaskbarPlacement, WithoutATaskbarTakesTheWorkAreasBottomRightCorner) {
  const ScreenPoint at = DialogPositionInWorkArea({100, 50, 1380, 1074}, 300, 180);
  EXPECT_EQ(at.x, 1080);
  EXPECT_EQ(at.y, 894);
}

}  // namespace

// Where the notification dialog goes: against the taskbar, at the end where
// the notification area usually is. Pure arithmetic on plain values.
#pragma once

// A rectangle in screen pixels, right and bottom exclusive.
struct ScreenRect {
  int left = 0;
  int top = 0;
  int right = 0;
  int bottom = 0;
};

struct ScreenPoint {
  int x = 0;
  int y = 0;
};

// The platform's edge numbers (ABE_LEFT .. ABE_BOTTOM).
enum class TaskbarEdge : unsigned { Left = 0, Top = 1, Right = 2, Bottom = 3 };

// The top-left corner of a window of cx x cy beside a taskbar occupying
// `taskbar` at `edge`: bottom right for a bottom or right taskbar, top right
// for a top one, bottom left for a left one. An edge number the platform
// does not define is taken as a bottom taskbar.
ScreenPoint DialogPosition(unsigned edge, const ScreenRect& taskbar, int cx, int cy);

// Where no taskbar can be found: the bottom-right corner of the work area.
ScreenPoint DialogPositionInWorkArea(const ScreenRect& workArea, int cx, int cy);

#include "workflow/taskbar_placement.h"

ScreenPoint DialogPosition(unsigned edge, const ScreenRect& taskbar, int cx, int cy) {
  switch (static_cast<TaskbarEdge>(edge)) {
    case TaskbarEdge::Left:
      return {taskbar.right, taskbar.bottom - cy};
    case TaskbarEdge::Top:
      return {taskbar.right - cx, taskbar.bottom};
    case TaskbarEdge::Right:
      return {taskbar.left - cx, taskbar.bottom - cy};
    case TaskbarEdge::Bottom:
    default:
      return {taskbar.right - cx, taskbar.top - cy};
  }
}

ScreenPoint DialogPositionInWorkArea(const ScreenRect& workArea, int cx, int cy) {
  // A taskbar of no height along the work area's bottom edge.
  const ScreenRect bottomEdge{workArea.left, workArea.bottom, workArea.right, workArea.bottom};
  return DialogPosition(static_cast<unsigned>(TaskbarEdge::Bottom), bottomEdge, cx, cy);
}

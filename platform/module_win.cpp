#include "platform/module.h"

// The linker places this at the start of the image that holds it, so its
// address is the module handle of whichever executable links this file.
extern "C" IMAGE_DOS_HEADER __ImageBase;

HINSTANCE ModuleInstance() noexcept { return reinterpret_cast<HINSTANCE>(&__ImageBase); }

namespace {

// The class atom of dialogs made from a template (WC_DIALOG, "#32770").
constexpr ULONG_PTR kDialogClassAtom = 32770;

// Tab, Enter, Space and Escape for the dialog that the message's window
// belongs to, as any dialog has them. True when the dialog took the message.
bool DialogTakes(MSG& message) {
  if (!message.hwnd) return false;
  HWND root = ::GetAncestor(message.hwnd, GA_ROOT);
  return root && ::GetClassLongPtrW(root, GCW_ATOM) == kDialogClassAtom &&
         ::IsDialogMessageW(root, &message);
}

}  // namespace

int RunMessageLoop() noexcept {
  MSG message;
  for (;;) {
    const BOOL got = ::GetMessageW(&message, nullptr, 0, 0);
    if (got == -1) continue;
    if (got == 0) return static_cast<int>(message.wParam);
    if (DialogTakes(message)) continue;
    ::TranslateMessage(&message);
    ::DispatchMessageW(&message);
  }
}

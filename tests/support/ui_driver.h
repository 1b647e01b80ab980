// Driving the program's dialog from a test in another process: find it, read
// its controls' texts and visibility, press its buttons, close it. Waits poll
// in short steps.
#pragma once

#include <windows.h>

#include <functional>
#include <initializer_list>
#include <string>

// Polls `condition` every 20 ms until it holds (true) or `timeoutMs` passed.
bool WaitUntil(const std::function<bool()>& condition, DWORD timeoutMs);

// Like WaitUntil, while the calling thread's own windows get their messages.
bool PumpUntil(const std::function<bool()>& condition, DWORD timeoutMs);

// Each key pressed and let go in turn, as the keyboard sends them (SendInput),
// to whichever window has the keyboard; with Shift held around each when
// `shift`.
void TypeKeys(std::initializer_list<WORD> keys, bool shift = false);

// The window with the keyboard focus in the thread of `window`, or null.
HWND FocusedWindow(HWND window);

// Whether process `processId` shows a popup menu.
bool MenuShown(DWORD processId);

// The dialog window (class "#32770") of process `processId`, or null.
HWND FindProgramDialog(DWORD processId);

// The dialog of `processId` once it is visible, or null after `timeoutMs`.
HWND WaitForShownDialog(DWORD processId, DWORD timeoutMs);

// The text of control `id`; empty when there is no such control.
std::wstring ControlText(HWND dialog, int id);

// Whether control `id` has the visible style (its own state, whatever its
// parent's is).
bool ControlShown(HWND dialog, int id);

// A press of button `id` as the button itself reports it: WM_COMMAND with
// BN_CLICKED, posted.
void PressButton(HWND dialog, int id);

// Whether any top-level window of `processId` is visible: the program's
// dialog, or a prompt the platform shows on its behalf.
bool AnyWindowShown(DWORD processId);

// The platform's credential prompt of `processId` (a visible dialog with a
// user name and a password field), or null.
HWND FindCredentialPrompt(DWORD processId);

// Types `user` and `password` into the prompt's two fields and presses OK,
// as a person would.
void AnswerCredentialPrompt(HWND prompt, const std::wstring& user, const std::wstring& password);

// WM_CLOSE, posted, as the system menu or Alt+F4 would send it.
void PostClose(HWND dialog);

#pragma once

// The desktop's help for a touch panel without a keyboard: the on-screen keyboard and
// "show desktop". Both start something and return at once; where the desktop offers
// nothing they say so in one line on standard output.
//
// Windows: "start /b C:\Windows\system32\osk.exe" on a thread of its own, and the Shell's
// ToggleDesktop. Elsewhere: the first installed keyboard of onboard, florence,
// matchbox-keyboard and xvkbd, and "wmctrl -k on" (the window manager's show-desktop).
namespace DesktopActions {
// Return whether something was started.
bool startKeyboard();
bool showDesktop();
}

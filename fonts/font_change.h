// The broadcast that tells running programs to re-read fonts, shared by the
// exports that add or remove font resources.
#pragma once

#include <windows.h>

namespace setupsup {

// How long the broadcast waits for any one top-level window to handle
// WM_FONTCHANGE. Windows the system already reports as hung are skipped at
// once (SMTO_ABORTIFHUNG); this bounds a window that stops responding while
// the message waits for it.
inline constexpr UINT kFontChangeTimeoutMs = 5000;

// Sent, not posted: the call returns once every responding top-level window
// has handled the message, so a program started right after sees the new
// fonts. A plain SendMessageA broadcast would wait for ever on one hung
// window of any program on the desktop. The result is the value the send
// reports for the broadcast (1, as SendMessageA gives when no window hangs)
// and is passed through uninterpreted.
inline int BroadcastFontChange()
{
    DWORD_PTR result = 0;
    ::SendMessageTimeoutA(HWND_BROADCAST, WM_FONTCHANGE, 0, 0, SMTO_ABORTIFHUNG, kFontChangeTimeoutMs, &result);
    return static_cast<int>(result);
}

} // namespace setupsup

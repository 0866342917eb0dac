// The broadcast that tells every running program of a change (fonts, the
// environment), shared by the exports that make one, and that never hangs.
#pragma once

#include <windows.h>

namespace setupsup {

// How long the broadcast waits for any one top-level window to handle the
// message. Windows the system already reports as hung are skipped at once
// (SMTO_ABORTIFHUNG); this bounds a window that stops responding while the
// message waits for it.
inline constexpr UINT kBroadcastTimeoutMs = 5000;

// Sends message to every top-level window. Sent, not posted: the call
// returns once every responding window has handled it, so a program started
// right after sees the change. A plain SendMessageA broadcast would wait for
// ever on one hung window of any program on the desktop. The result is the
// value the send reports for the broadcast (1, as SendMessageA gives when no
// window hangs) and is passed through uninterpreted.
inline int BroadcastToTopLevelWindows(UINT message, WPARAM wParam, LPARAM lParam)
{
    DWORD_PTR result = 0;
    ::SendMessageTimeoutA(HWND_BROADCAST, message, wParam, lParam, SMTO_ABORTIFHUNG, kBroadcastTimeoutMs, &result);
    return static_cast<int>(result);
}

} // namespace setupsup

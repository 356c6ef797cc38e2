#include "FatalBox.h"

#include <windows.h>

#include "MainWindow.h"
#include "Text.h"

namespace kesmar::win32 {

namespace {

DWORD WINAPI showBox(void *text)
{
    MessageBoxW(nullptr, static_cast<const wchar_t *>(text), MainWindow::title,
                MB_OK | MB_ICONERROR | MB_SETFOREGROUND);
    return 0;
}

} // namespace

void showFatalError(const std::string &message)
{
    // The box waits on a thread of its own: its message loop on this thread
    // would go on dispatching the window's timers and sockets to handlers
    // that have just failed.
    std::wstring text = widen(message);
    HANDLE box = CreateThread(nullptr, 0, showBox, text.data(), 0, nullptr);
    if (!box) {
        showBox(text.data());
        return;
    }
    WaitForSingleObject(box, INFINITE);
    CloseHandle(box);
}

} // namespace kesmar::win32

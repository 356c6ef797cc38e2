// The Win32 front end's report of a failure it cannot go on from.

#include "Fatal.h"

#include <cstdlib>

#include <windows.h>

#include "MainWindow.h"
#include "Text.h"

namespace {

void writeToStandardError(const std::string &message)
{
    // A GUI program has a standard error only when it was given one: started
    // from a shell (under Wine too), or with 2> on Windows.
    HANDLE err = GetStdHandle(STD_ERROR_HANDLE);
    if (!err || err == INVALID_HANDLE_VALUE || GetFileType(err) == FILE_TYPE_UNKNOWN)
        return;
    const std::string line = "kesmar: " + message + "\n";
    DWORD written = 0;
    WriteFile(err, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
}

DWORD WINAPI showBox(void *text)
{
    MessageBoxW(nullptr, static_cast<const wchar_t *>(text), kesmar::win32::MainWindow::title,
                MB_OK | MB_ICONERROR | MB_SETFOREGROUND);
    return 0;
}

} // namespace

void fatalError(const std::string &message)
{
    writeToStandardError(message);
    // The box waits on a thread of its own: its message loop on this thread
    // would go on dispatching the window's timers and sockets to handlers
    // that have just failed.
    const std::wstring text = kesmar::win32::widen(message);
    HANDLE box = CreateThread(nullptr, 0, showBox, const_cast<wchar_t *>(text.c_str()), 0, nullptr);
    if (box) {
        WaitForSingleObject(box, INFINITE);
        CloseHandle(box);
    } else {
        showBox(const_cast<wchar_t *>(text.c_str()));
    }
    std::exit(1);
}

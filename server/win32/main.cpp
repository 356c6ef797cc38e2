#include <filesystem>
#include <string>

#include <objbase.h>
#include <windows.h>

#include <commctrl.h>

#include "Fatal.h"
#include "MainWindow.h"
#include "Net.h"
#include "Text.h"
#include "WinEventLoop.h"
#include "frmMainHandlers.h"

namespace {

// test.txt is read from the directory that holds the program.
std::filesystem::path programDirectory()
{
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length =
            GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (length == 0)
            kesmar::win32::failedLastError("cannot find the program's directory");
        if (length < path.size()) {
            path.resize(length);
            return std::filesystem::path(path).parent_path();
        }
        path.resize(path.size() * 2);
    }
}

// The window and its handlers, from start-up until the window is gone.
int runWindow(HINSTANCE instance, int showCommand)
{
    runHandler([] { kesmar::net::startup(); });
    kesmar::win32::MainWindow window(instance);
    kesmar::win32::WinEventLoop loop;
    kesmar::frmMainHandlers handlers(window.controls(), loop);
    window.attach(handlers);

    runHandler([&] { handlers.load(programDirectory() / L"test.txt"); });
    window.show(showCommand);
    return loop.run([&window](MSG &msg) { return window.preTranslate(msg); });
}

} // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int showCommand)
{
    INITCOMMONCONTROLSEX classes{sizeof classes, ICC_STANDARD_CLASSES | ICC_BAR_CLASSES};
    InitCommonControlsEx(&classes);
    // For the accessibility annotations; without COM they are left out.
    const bool com = SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
    const int status = runWindow(instance, showCommand);
    if (com)
        CoUninitialize();
    return status;
}

#include <optional>

#include <objbase.h>
#include <windows.h>

#include <commctrl.h>

#include "Fatal.h"
#include "FatalBox.h"
#include "MainWindow.h"
#include "ProgramDir.h"
#include "WinEventLoop.h"
#include "frmMainHandlers.h"

namespace {

// The window and its handlers, from start-up until the window is gone.
int runWindow(HINSTANCE instance, int showCommand)
{
    setFatalReport(kesmar::win32::showFatalError);
    kesmar::win32::MainWindow window(instance);
    std::optional<kesmar::win32::WinEventLoop> loop;
    runHandler([&] { loop.emplace(); });
    kesmar::frmMainHandlers handlers(window.controls(), *loop);
    window.attach(handlers, *loop);

    // test.txt is read from the directory that holds the program.
    runHandler([&] { handlers.load(programDirectory() / L"test.txt"); });
    window.show(showCommand);
    loop->preTranslate = [&window](MSG &msg) { return window.preTranslate(msg); };
    return loop->run();
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

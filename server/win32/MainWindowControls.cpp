// How frmMain is built on Win32 from its table in Form.h: the window at the
// system's DPI, its controls, their fonts, the tab order and the menu.

#include "MainWindow.h"

#include <array>
#include <string>
#include <string_view>
#include <utility>

#include <commctrl.h>

#include "Fonts.h"
#include "Text.h"
#include "WindowClass.h"

namespace kesmar::win32 {

namespace {

constexpr DWORD windowStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;

// The fatal-error box is titled so too, whenever it comes.
const std::wstring titleText = widen(form::title);

int systemDpi()
{
    HDC screen = GetDC(nullptr);
    const int dpi = GetDeviceCaps(screen, LOGPIXELSY);
    ReleaseDC(nullptr, screen);
    return dpi > 0 ? dpi : 96;
}

} // namespace

const wchar_t *const MainWindow::title = titleText.c_str();

MainWindow::MainWindow(HINSTANCE instance) : instance_(instance), dpi_(systemDpi())
{
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = windowProc;
    wc.hInstance = instance;
    wc.hIcon =
        static_cast<HICON>(LoadImageW(instance, L"IDI_ICON1", IMAGE_ICON, 0, 0, LR_DEFAULTSIZE));
    wc.hIconSm = static_cast<HICON>(LoadImageW(instance, L"IDI_ICON1", IMAGE_ICON,
                                               GetSystemMetrics(SM_CXSMICON),
                                               GetSystemMetrics(SM_CYSMICON), 0));
    wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    wc.lpszClassName = mainWindowClass;
    if (!RegisterClassExW(&wc))
        failedLastError("cannot register the window class");

    // A fixed client area at the system's DPI, the menu bar above it.
    RECT frame{0, 0, form::pixels(form::clientWidth, dpi_), form::pixels(form::clientHeight, dpi_)};
    AdjustWindowRectEx(&frame, windowStyle, TRUE, 0);
    CreateWindowExW(0, mainWindowClass, title, windowStyle, CW_USEDEFAULT, CW_USEDEFAULT,
                    frame.right - frame.left, frame.bottom - frame.top, nullptr, nullptr, instance,
                    this);
    if (!hwnd_)
        failedLastError("cannot create the window");
}

BOOL MainWindow::OnCreate(HWND, LPCREATESTRUCTW)
{
    uiFont_ = makeFont(form::uiFont, dpi_);
    paneFont_ = makeFont(form::paneFont, dpi_);
    createMenu();
    createControls();
    return TRUE;
}

void MainWindow::createMenu()
{
    HMENU bar = CreateMenu();
    HMENU file = CreatePopupMenu();
    if (!bar || !file || !AppendMenuW(file, MF_STRING, idMnuExit, widen(form::exitItem).c_str()) ||
        !AppendMenuW(bar, MF_POPUP, reinterpret_cast<UINT_PTR>(file),
                     widen(form::fileMenu).c_str()) ||
        !SetMenu(hwnd_, bar))
        failedLastError("cannot create the menu");
}

void MainWindow::createControls()
{
    const auto px = [this](int twips) { return form::pixels(twips, dpi_); };
    std::array<HWND, form::tabStops> byTab{};
    for (const form::Control &c : form::controls) {
        DWORD style = WS_CHILD | WS_VISIBLE | WS_TABSTOP;
        DWORD exStyle = 0;
        const wchar_t *windowClass = WC_BUTTONW;
        switch (c.kind) {
        case form::Kind::CheckBox:
            style |= BS_AUTOCHECKBOX;
            break;
        case form::Kind::Button:
            // BS_NOTIFY: word of focus, so that the focused button is the default.
            style |= BS_PUSHBUTTON | BS_NOTIFY;
            break;
        case form::Kind::Slider:
            windowClass = TRACKBAR_CLASSW;
            style |= TBS_HORZ | TBS_AUTOTICKS | TBS_BOTTOM;
            break;
        case form::Kind::Pane:
            windowClass = Pane::windowClass();
            style |= ES_MULTILINE | ES_READONLY | ES_NOHIDESEL | ES_AUTOVSCROLL | ES_AUTOHSCROLL |
                     WS_VSCROLL | WS_HSCROLL;
            exStyle = WS_EX_CLIENTEDGE;
            break;
        case form::Kind::Timer:
        case form::Kind::Socket:
            // The send clock and the socket control belong to the handlers;
            // they have no window of their own.
            continue;
        }
        // A trackbar shows no text of its own; what it holds is the name
        // that accessibility reads where the annotations are not kept
        // (Wine's oleacc has none).
        const std::wstring text =
            widen(c.kind == form::Kind::Slider ? c.accessibleName : c.caption);
        HWND control = CreateWindowExW(
            exStyle, windowClass, text.c_str(), style, px(c.left), px(c.top), px(c.width),
            px(c.height), hwnd_, reinterpret_cast<HMENU>(static_cast<INT_PTR>(controlId(c.name))),
            instance_, nullptr);
        if (!control)
            failedLastError("cannot create the window's controls");
        // A pane takes its font when it is attached.
        if (c.kind != form::Kind::Pane)
            SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(uiFont_.get()), FALSE);
        annotate(control, c);
        byTab[static_cast<std::size_t>(c.tabIndex)] = control;
    }

    // Tab goes through the controls in z-order, so put them in tab order.
    for (std::size_t i = 0; i < byTab.size(); ++i)
        SetWindowPos(byTab[i], i == 0 ? HWND_TOP : byTab[i - 1], 0, 0, 0, 0,
                     SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);

    chkEvent_.attach(GetDlgItem(hwnd_, idChkEvent));
    cmdMonitorInit_.attach(GetDlgItem(hwnd_, idCmdMonitorInit));
    chkDump_.attach(GetDlgItem(hwnd_, idChkDump));
    txtStat_.attach(GetDlgItem(hwnd_, idTxtStat), paneFont_.get());
    cmdSend_.attach(GetDlgItem(hwnd_, idCmdSend));
    txtDump_.attach(GetDlgItem(hwnd_, idTxtDump), paneFont_.get());
    // A pane past its bound moves to a control of its own making.
    for (auto [pane, name] : {std::pair{&txtStat_, "txtStat"}, std::pair{&txtDump_, "txtDump"}})
        pane->onReplaced([this, name = std::string_view(name)](HWND old, HWND now) {
            accessible_.clear(old);
            annotate(now, form::control(name));
            if (lastFocus_ == old)
                lastFocus_ = now;
        });

    HWND slider = GetDlgItem(hwnd_, idSldPeriod);
    SendMessageW(slider, TBM_SETRANGE, FALSE, MAKELPARAM(0, 1000));
    SendMessageW(slider, TBM_SETLINESIZE, 0, 10);
    SendMessageW(slider, TBM_SETPAGESIZE, 0, 100);
    SendMessageW(slider, TBM_SETTICFREQ, 100, 0);
    SendMessageW(slider, TBM_SETPOS, TRUE, 0);
    sldPeriod_.attach(slider);

    tips_.create(hwnd_, cmdSend_.hwnd(), slider, [this](HWND tool) { return tipText(tool); });
    lastFocus_ = txtDump_.hwnd();
}

// A control with a caption is called by it.
void MainWindow::annotate(HWND control, const form::Control &c)
{
    const std::wstring name = widen(c.accessibleName);
    accessible_.annotate(control, name.empty() ? nullptr : name.c_str(),
                         widen(c.description).c_str());
}

} // namespace kesmar::win32

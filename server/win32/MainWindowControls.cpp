// How frmMain is built on Win32: its controls, their places, captions and
// fonts, the tab order and the menu.

#include "MainWindow.h"

#include <algorithm>
#include <array>

#include <commctrl.h>

#include "Text.h"

namespace kesmar::win32 {

namespace {

enum class Kind { CheckBox, Button, Slider, Pane };

struct ControlSpec
{
    int id;
    Kind kind;
    const wchar_t *caption;
    int left, top, width, height; // twips
    int tabIndex;
    // What a screen reader calls the control; null where its caption says it.
    const wchar_t *accessibleName;
    const wchar_t *description;
};

// In creation order. The send clock tmr1 and the socket control askServer
// belong to the handlers; they have no window of their own.
constexpr std::array<ControlSpec, 7> controlTable{{
    {MainWindow::idChkEvent, Kind::CheckBox, L"イベントを表示しない", 4320, 3240, 1935, 300, 6,
     nullptr, L"接続イベントを表示しない"},
    {MainWindow::idCmdMonitorInit, Kind::Button, L"表示初期化", 4080, 2520, 1935, 495, 5, nullptr,
     L"表示を初期化する"},
    {MainWindow::idChkDump, Kind::CheckBox, L"ダンプする", 4320, 3600, 1215, 255, 4, nullptr,
     L"送受信の先頭8バイトをダンプする"},
    {MainWindow::idSldPeriod, Kind::Slider, L"", 4080, 1560, 1935, 495, 3, L"送信周期",
     L"ミリ秒単位、0 で送信しない"},
    {MainWindow::idTxtStat, Kind::Pane, L"", 0, 3240, 3495, 2415, 2, L"イベントログ",
     L"接続と送受信の記録"},
    {MainWindow::idCmdSend, Kind::Button, L"送信", 4080, 240, 1935, 975, 1, nullptr,
     L"周期送信の開始と停止"},
    {MainWindow::idTxtDump, Kind::Pane, L"", 0, 30, 3495, 2655, 0, L"ダンプ表示",
     L"送受信の先頭8バイトの16進表示"},
}};

// Each control holds one tab stop of its own, from 0 up.
constexpr bool tabIndicesAreDistinct()
{
    std::array<bool, controlTable.size()> taken{};
    for (const ControlSpec &c : controlTable) {
        const auto i = static_cast<std::size_t>(c.tabIndex);
        if (c.tabIndex < 0 || i >= taken.size() || taken[i])
            return false;
        taken[i] = true;
    }
    return true;
}
static_assert(tabIndicesAreDistinct());

constexpr int clientWidthTwips = 6510;
constexpr int clientHeightTwips = 5745;
constexpr int fontPoints = 9;

constexpr DWORD windowStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
constexpr const wchar_t *className = L"kesmar.frmMain";

int systemDpi()
{
    HDC screen = GetDC(nullptr);
    const int dpi = GetDeviceCaps(screen, LOGPIXELSY);
    ReleaseDC(nullptr, screen);
    return dpi > 0 ? dpi : 96;
}

HFONT makeFont(int dpi, const wchar_t *face, DWORD pitchAndFamily)
{
    return CreateFontW(-MulDiv(fontPoints, dpi, 72), 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE,
                       SHIFTJIS_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                       pitchAndFamily, face);
}

} // namespace

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
    wc.lpszClassName = className;
    if (!RegisterClassExW(&wc))
        failedLastError("cannot register the window class");

    // A fixed client area at the system's DPI, the menu bar above it.
    RECT frame{0, 0, MulDiv(clientWidthTwips, dpi_, 1440), MulDiv(clientHeightTwips, dpi_, 1440)};
    AdjustWindowRectEx(&frame, windowStyle, TRUE, 0);
    CreateWindowExW(0, className, title, windowStyle, CW_USEDEFAULT, CW_USEDEFAULT,
                    frame.right - frame.left, frame.bottom - frame.top, nullptr, nullptr, instance,
                    this);
    if (!hwnd_)
        failedLastError("cannot create the window");
}

BOOL MainWindow::OnCreate(HWND, LPCREATESTRUCTW)
{
    uiFont_.reset(makeFont(dpi_, L"MS UI Gothic", VARIABLE_PITCH | FF_SWISS));
    paneFont_.reset(makeFont(dpi_, L"ＭＳ ゴシック", FIXED_PITCH | FF_MODERN));
    createMenu();
    createControls();
    return TRUE;
}

void MainWindow::createMenu()
{
    // "ファイル" with its one item; no access keys, no shortcuts.
    HMENU bar = CreateMenu();
    HMENU file = CreatePopupMenu();
    if (!bar || !file || !AppendMenuW(file, MF_STRING, idMnuExit, L"終了") ||
        !AppendMenuW(bar, MF_POPUP, reinterpret_cast<UINT_PTR>(file), L"ファイル") ||
        !SetMenu(hwnd_, bar))
        failedLastError("cannot create the menu");
}

void MainWindow::createControls()
{
    const auto px = [this](int twips) { return MulDiv(twips, dpi_, 1440); };
    std::array<HWND, controlTable.size()> byTab{};
    for (const ControlSpec &c : controlTable) {
        DWORD style = WS_CHILD | WS_VISIBLE | WS_TABSTOP;
        DWORD exStyle = 0;
        const wchar_t *windowClass = WC_BUTTONW;
        switch (c.kind) {
        case Kind::CheckBox:
            style |= BS_AUTOCHECKBOX;
            break;
        case Kind::Button:
            // BS_NOTIFY: word of focus, so that the focused button is the default.
            style |= BS_PUSHBUTTON | BS_NOTIFY;
            break;
        case Kind::Slider:
            windowClass = TRACKBAR_CLASSW;
            style |= TBS_HORZ | TBS_AUTOTICKS | TBS_BOTTOM;
            break;
        case Kind::Pane:
            windowClass = Pane::windowClass();
            style |= ES_MULTILINE | ES_READONLY | ES_NOHIDESEL | ES_AUTOVSCROLL | ES_AUTOHSCROLL |
                     WS_VSCROLL | WS_HSCROLL;
            exStyle = WS_EX_CLIENTEDGE;
            break;
        }
        // A trackbar shows no text of its own; what it holds is the name
        // that accessibility reads where the annotations are not kept
        // (Wine's oleacc has none).
        const wchar_t *text = c.kind == Kind::Slider ? c.accessibleName : c.caption;
        HWND control = CreateWindowExW(
            exStyle, windowClass, text, style, px(c.left), px(c.top), px(c.width), px(c.height),
            hwnd_, reinterpret_cast<HMENU>(static_cast<INT_PTR>(c.id)), instance_, nullptr);
        if (!control)
            failedLastError("cannot create the window's controls");
        HFONT font = c.kind == Kind::Pane ? paneFont_.get() : uiFont_.get();
        SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
        accessible_.annotate(control, c.accessibleName, c.description);
        byTab[static_cast<std::size_t>(c.tabIndex)] = control;
    }

    // Tab goes through the controls in z-order, so put them in tab order.
    for (std::size_t i = 0; i < byTab.size(); ++i)
        SetWindowPos(byTab[i], i == 0 ? HWND_TOP : byTab[i - 1], 0, 0, 0, 0,
                     SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);

    chkEvent_.attach(GetDlgItem(hwnd_, idChkEvent));
    cmdMonitorInit_.attach(GetDlgItem(hwnd_, idCmdMonitorInit));
    chkDump_.attach(GetDlgItem(hwnd_, idChkDump));
    txtStat_.attach(GetDlgItem(hwnd_, idTxtStat));
    cmdSend_.attach(GetDlgItem(hwnd_, idCmdSend));
    txtDump_.attach(GetDlgItem(hwnd_, idTxtDump));

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

} // namespace kesmar::win32

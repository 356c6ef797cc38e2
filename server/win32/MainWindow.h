#pragma once

#include <optional>
#include <string_view>

#include <windows.h>

#include "Accessibility.h"
#include "CaptionPress.h"
#include "Controls.h"
#include "EventLoop.h"
#include "Form.h"
#include "Handles.h"
#include "Pane.h"
#include "Tips.h"
#include "Widgets.h"

namespace kesmar {
class frmMainHandlers;
}

namespace kesmar::win32 {

using form::controlId;

// frmMain on Win32: the window, its controls, and which message runs which
// handler. The window is made hidden with every control; the handlers are
// made over its controls and attached; then load runs and the window shows.
class MainWindow
{
  public:
    static const wchar_t *const title;

    static constexpr int idChkEvent = controlId("chkEvent");
    static constexpr int idCmdMonitorInit = controlId("cmdMonitorInit");
    static constexpr int idChkDump = controlId("chkDump");
    static constexpr int idSldPeriod = controlId("sldPeriod");
    static constexpr int idTxtStat = controlId("txtStat");
    static constexpr int idCmdSend = controlId("cmdSend");
    static constexpr int idTxtDump = controlId("txtDump");
    static constexpr int idMnuExit = form::exitItemId;

    explicit MainWindow(HINSTANCE instance);
    MainWindow(const MainWindow &) = delete;
    MainWindow &operator=(const MainWindow &) = delete;

    FormControls controls();
    // The loop is the send clock's.
    void attach(frmMainHandlers &handlers, const EventLoop &loop);
    void show(int showCommand);

    // For the message loop, before a message is translated and dispatched:
    // the dialog keys (Tab order, Enter and Space on the focused button).
    // True when the message has been dealt with.
    bool preTranslate(MSG &msg);

    HWND hwnd() const { return hwnd_; }

  private:
    static LRESULT CALLBACK windowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
    LRESULT handle(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);

    // Made in MainWindowControls.cpp.
    BOOL OnCreate(HWND hwnd, LPCREATESTRUCTW create);
    void createControls();
    void annotate(HWND control, const form::Control &c);
    void createMenu();

    void OnCommand(HWND hwnd, int id, HWND control, UINT code);
    void OnHScroll(HWND hwnd, HWND control, UINT code, int pos);
    LRESULT OnNotify(HWND hwnd, int id, NMHDR *header);
    void OnTimer(HWND hwnd, UINT id);
    void OnActivate(HWND hwnd, UINT state, HWND other, BOOL minimized);
    void OnClose(HWND hwnd);
    void OnDestroy(HWND hwnd);
    void OnNCLButtonDown(HWND hwnd, BOOL doubleClick, int x, int y, UINT hitTest);
    void OnLButtonUp(HWND hwnd, int x, int y, UINT keyFlags);
    LRESULT OnCaptureChanged();
    LRESULT OnGetDefId();
    void buttonFocus(HWND button, bool focused);
    std::wstring tipText(HWND tool) const;
    Pane::Clock::duration untilTickPassed(Pane::Clock::duration cost) const;

    HINSTANCE instance_;
    HWND hwnd_ = nullptr;
    int dpi_ = 96;
    UniqueFont uiFont_;
    UniqueFont paneFont_;
    AccessibleNames accessible_;
    Tips tips_;
    CaptionPress caption_;

    CheckBoxControl chkEvent_;
    ButtonControl cmdMonitorInit_;
    CheckBoxControl chkDump_;
    SliderControl sldPeriod_;
    Pane txtStat_;
    ButtonControl cmdSend_;
    Pane txtDump_;

    frmMainHandlers *handlers_ = nullptr;
    const EventLoop *loop_ = nullptr;
    HWND lastFocus_ = nullptr; // given back when the window is activated again
};

} // namespace kesmar::win32

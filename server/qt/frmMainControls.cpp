// How frmMain is built: its controls, their places and captions, and which
// notification runs which handler.

#include "frmMain.h"

#include <algorithm>
#include <array>

#include <QAction>
#include <QCheckBox>
#include <QFontDatabase>
#include <QLayout>
#include <QMenuBar>
#include <QPushButton>
#include <QShortcut>

#include "Slider.h"

namespace {

// The window is laid out in twips; 15 twips make one pixel at 96 dpi.
constexpr int px(int twips)
{
    return twips / 15;
}

enum class Kind { CheckBox, Button, Slider, Pane, Timer, Socket };

struct ControlSpec
{
    const char *name;
    Kind kind;
    const char *caption;
    int left, top, width, height; // twips
    int tabIndex;                 // -1: invisible, not in the tab order
    // What a screen reader calls a control that shows no caption. One with a
    // caption is called by it, and follows it when it changes ("送信", then
    // "停止"); automation finds every control by its object name instead.
    const char *accessibleName;
    // What a screen reader says after the name and the role.
    const char *description;
};

// In creation order, which is also the stacking order.
constexpr std::array<ControlSpec, 9> controlTable{{
    {"chkEvent", Kind::CheckBox, "イベントを表示しない", 4320, 3240, 1935, 300, 6, "",
     "接続イベントを表示しない"},
    {"cmdMonitorInit", Kind::Button, "表示初期化", 4080, 2520, 1935, 495, 5, "",
     "表示を初期化する"},
    {"chkDump", Kind::CheckBox, "ダンプする", 4320, 3600, 1215, 255, 4, "",
     "送受信の先頭8バイトをダンプする"},
    // The period itself a screen reader takes from the slider's own value,
    // and says again at every step.
    {"sldPeriod", Kind::Slider, "", 4080, 1560, 1935, 495, 3, "送信周期",
     "ミリ秒単位、0 で送信しない"},
    {"txtStat", Kind::Pane, "", 0, 3240, 3495, 2415, 2, "イベントログ", "接続と送受信の記録"},
    {"cmdSend", Kind::Button, "送信", 4080, 240, 1935, 975, 1, "", "周期送信の開始と停止"},
    {"tmr1", Kind::Timer, "", 0, 0, 0, 0, -1, "", ""},
    {"txtDump", Kind::Pane, "", 0, 30, 3495, 2655, 0, "ダンプ表示",
     "送受信の先頭8バイトの16進表示"},
    {"askServer", Kind::Socket, "", 0, 0, 0, 0, -1, "", ""},
}};

constexpr auto tabStops =
    static_cast<std::size_t>(std::count_if(controlTable.begin(), controlTable.end(),
                                           [](const ControlSpec &c) { return c.tabIndex >= 0; }));

// Each visible control holds one tab stop of its own, from 0 up.
constexpr bool tabIndicesAreDistinct()
{
    std::array<bool, tabStops> taken{};
    for (const ControlSpec &c : controlTable) {
        if (c.tabIndex < 0)
            continue;
        const auto i = static_cast<std::size_t>(c.tabIndex);
        if (i >= tabStops || taken[i])
            return false;
        taken[i] = true;
    }
    return true;
}
static_assert(tabIndicesAreDistinct());

constexpr int clientWidthTwips = 6510;
constexpr int clientHeightTwips = 5745;

// A fixed-pitch Japanese face, so that dump columns line up and kana render.
QFont paneFont()
{
    QFont font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    font.setFamilies({QStringLiteral("ＭＳ ゴシック"), QStringLiteral("MS Gothic"),
                      QStringLiteral("IPAGothic"), QStringLiteral("Noto Sans Mono CJK JP"),
                      font.family()});
    font.setStyleHint(QFont::Monospace);
    font.setPointSize(9);
    font.setWeight(QFont::Normal);
    return font;
}

// A 9-point Japanese UI face in which every caption fits its control.
QFont uiFont()
{
    QFont font;
    font.setFamilies({QStringLiteral("MS UI Gothic"), QStringLiteral("IPAPGothic"),
                      QStringLiteral("Noto Sans CJK JP"), font.family()});
    font.setPointSize(9);
    return font;
}

} // namespace

void frmMain::createControls()
{
    setWindowTitle(QStringLiteral("Tarvolin(TCP Server)"));
    // A fixed window: it can be minimised and closed, not maximised.
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint);
    setFont(uiFont());

    auto *client = new QWidget(this);
    client->setFixedSize(px(clientWidthTwips), px(clientHeightTwips));
    setCentralWidget(client);

    // Controls, absolutely placed; the window has no layout logic. The timer
    // and the socket control belong to the window itself.
    std::array<QWidget *, tabStops> byTab{};
    for (const ControlSpec &c : controlTable) {
        QObject *made = nullptr;
        const QString caption = QString::fromUtf8(c.caption);
        switch (c.kind) {
        case Kind::CheckBox:
            made = new QCheckBox(caption, client);
            break;
        case Kind::Button: {
            auto *button = new QPushButton(caption, client);
            // Enter presses the focused button, as Space does, the way the
            // platform the window was designed for has it.
            button->setAutoDefault(true);
            made = button;
            break;
        }
        case Kind::Slider: {
            auto *slider = new Slider(Qt::Horizontal, client);
            slider->setRange(0, 1000);
            slider->setSingleStep(10);
            slider->setPageStep(100);
            slider->setTickInterval(100);
            slider->setTickPosition(QSlider::TicksBelow);
            slider->setValue(0);
            made = slider;
            break;
        }
        case Kind::Pane: {
            auto *pane = new Pane(client);
            pane->setFont(paneFont());
            // The system's window background is the palette's text-entry base.
            pane->setBackgroundRole(QPalette::Base);
            pane->setTabChangesFocus(true);
            made = pane;
            break;
        }
        case Kind::Timer:
        case Kind::Socket:
            // Toolkit-free, made with the handlers.
            continue;
        }
        made->setObjectName(QString::fromLatin1(c.name));
        if (auto *w = qobject_cast<QWidget *>(made)) {
            w->setGeometry(px(c.left), px(c.top), px(c.width), px(c.height));
            if (*c.accessibleName)
                w->setAccessibleName(QString::fromUtf8(c.accessibleName));
            w->setAccessibleDescription(QString::fromUtf8(c.description));
            byTab[static_cast<std::size_t>(c.tabIndex)] = w;
        }
    }
    for (std::size_t i = 1; i < byTab.size(); ++i)
        QWidget::setTabOrder(byTab[i - 1], byTab[i]);

    chkEvent = client->findChild<QCheckBox *>(QStringLiteral("chkEvent"));
    cmdMonitorInit = client->findChild<QPushButton *>(QStringLiteral("cmdMonitorInit"));
    chkDump = client->findChild<QCheckBox *>(QStringLiteral("chkDump"));
    sldPeriod = client->findChild<Slider *>(QStringLiteral("sldPeriod"));
    txtStat = client->findChild<Pane *>(QStringLiteral("txtStat"));
    cmdSend = client->findChild<QPushButton *>(QStringLiteral("cmdSend"));
    txtDump = client->findChild<Pane *>(QStringLiteral("txtDump"));

    // Menu: "ファイル" with its one item, no access keys or shortcuts.
    mnuFile = menuBar()->addMenu(QStringLiteral("ファイル"));
    mnuFile->setObjectName(QStringLiteral("mnuFile"));
    mnuExit = mnuFile->addAction(QStringLiteral("終了"));
    mnuExit->setObjectName(QStringLiteral("mnuExit"));
    // The drop-down is a window of its own and would not take the window's font.
    mnuFile->setFont(font());
    // F10 opens the menu, as on the platform the window was designed for.
    auto *menuKey = new QShortcut(QKeySequence(Qt::Key_F10), this);
    connect(menuKey, &QShortcut::activated, menuBar(),
            [bar = menuBar(), menu = mnuFile] { bar->setActiveAction(menu->menuAction()); });

    // Fixed size: the client area plus the menu bar.
    layout()->setSizeConstraint(QLayout::SetFixedSize);
    txtDump->setFocus();
}

void frmMain::wireNotifications()
{
    kesmar::frmMainHandlers *h = handlers_.get();
    connect(mnuExit, &QAction::triggered, this, &QWidget::close);
    connect(cmdSend, &QPushButton::clicked, this, [h] { h->toggleSending(); });
    connect(cmdMonitorInit, &QPushButton::clicked, this, [h] { h->clearPanes(); });
    connect(sldPeriod, &QSlider::valueChanged, this, [h] { h->applyPeriod(); });
    // The socket control and the send clock reach the handlers themselves.

    // A repaint holds this thread for a millisecond or more; in the middle of
    // a large block it would hold the rest of the block back with it, so the
    // panes repaint once the block is wholly with the OS.
    for (Pane *pane : {txtStat, txtDump})
        pane->deferPaintWhile([server = askServer] { return server->bytesQueued() > 0; });
    h->onSendComplete = [this] {
        txtStat->paintIfDue();
        txtDump->paintIfDue();
    };
}

// How frmMain is built from its table in Form.h with Qt's widgets, and which
// notification runs which handler.

#include "frmMain.h"

#include <array>
#include <string_view>

#include <QAction>
#include <QCheckBox>
#include <QFontDatabase>
#include <QLayout>
#include <QMenuBar>
#include <QPushButton>
#include <QShortcut>

#include "Form.h"
#include "Slider.h"

namespace {

namespace form = kesmar::form;

// The window is laid out in twips at the X server's nominal 96 dpi.
constexpr int px(int twips)
{
    return form::pixels(twips, 96);
}

QString text(std::string_view utf8)
{
    return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
}

// The face asked for first, then those this platform has in its place.
QFont makeFont(const form::Font &facts, const QStringList &fallbacks)
{
    QFont font;
    if (facts.fixedPitch) {
        font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
        font.setStyleHint(QFont::Monospace);
        // A fixed-pitch face has no ligatures or kerning to shape, and a
        // pane that shows 100 lines a second spent a third of its
        // instructions in HarfBuzz, twice a line: glyphs straight from the
        // font's map, as a terminal takes them.
        font.setStyleStrategy(QFont::PreferNoShaping);
    }
    font.setFamilies(QStringList{text(facts.face)} + fallbacks + QStringList{font.family()});
    font.setPointSize(facts.points);
    font.setWeight(QFont::Normal);
    return font;
}

} // namespace

void frmMain::createControls()
{
    setWindowTitle(text(form::title));
    // A fixed window: it can be minimised and closed, not maximised.
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint);
    // A face in which every caption fits its control.
    setFont(
        makeFont(form::uiFont, {QStringLiteral("IPAPGothic"), QStringLiteral("Noto Sans CJK JP")}));

    auto *client = new QWidget(this);
    client->setFixedSize(px(form::clientWidth), px(form::clientHeight));
    setCentralWidget(client);

    // Controls, absolutely placed; the window has no layout logic. The timer
    // and the socket control belong to the window itself.
    const QFont paneFont =
        makeFont(form::paneFont, {QStringLiteral("MS Gothic"), QStringLiteral("IPAGothic"),
                                  QStringLiteral("Noto Sans Mono CJK JP")});
    std::array<QWidget *, form::tabStops> byTab{};
    for (const form::Control &c : form::controls) {
        QWidget *made = nullptr;
        switch (c.kind) {
        case form::Kind::CheckBox:
            made = new QCheckBox(text(c.caption), client);
            break;
        case form::Kind::Button: {
            auto *button = new QPushButton(text(c.caption), client);
            // Enter presses the focused button, as Space does, the way the
            // platform the window was designed for has it.
            button->setAutoDefault(true);
            made = button;
            break;
        }
        case form::Kind::Slider: {
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
        case form::Kind::Pane: {
            auto *pane = new Pane(client);
            pane->setFont(paneFont);
            // The system's window background is the palette's text-entry base.
            pane->setBackgroundRole(QPalette::Base);
            pane->setTabChangesFocus(true);
            made = pane;
            break;
        }
        case form::Kind::Timer:
        case form::Kind::Socket:
            // Toolkit-free, made with the handlers.
            continue;
        }
        made->setObjectName(text(c.name));
        made->setGeometry(px(c.left), px(c.top), px(c.width), px(c.height));
        if (!c.accessibleName.empty())
            made->setAccessibleName(text(c.accessibleName));
        made->setAccessibleDescription(text(c.description));
        byTab[static_cast<std::size_t>(c.tabIndex)] = made;
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

    // Menu: one menu with its one item.
    mnuFile = menuBar()->addMenu(text(form::fileMenu));
    mnuFile->setObjectName(QStringLiteral("mnuFile"));
    mnuExit = mnuFile->addAction(text(form::exitItem));
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

    // A pane's insertion and repaint hold this thread for a millisecond or
    // more; in the middle of a large block they would hold the rest of the
    // block back with them, so held lines go in once the block is wholly
    // with the OS.
    for (Pane *pane : {txtStat, txtDump})
        pane->holdWhile([server = askServer] { return server->bytesQueued() > 0; });
    h->onSendComplete = [this] {
        txtStat->showIfDue();
        txtDump->showIfDue();
    };
}

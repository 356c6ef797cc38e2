#include <algorithm>
#include <string>
#include <string_view>

#include <QAccessible>
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QFontDatabase>
#include <QFontInfo>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QSlider>
#include <QStyle>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QToolTip>

#include "Form.h"
#include "frmMain.h"

// The window as the user first sees it and leaves it, offscreen.
class tst_Window : public QObject
{
    Q_OBJECT

  private slots:
    void initTestCase();
    void init();
    void cleanup();

    void initialState();
    void controls_data();
    void controls();
    void creationOrder();
    void tabOrder_data();
    void tabOrder();
    void fixedSize_data();
    void fixedSize();
    void menu();
    void captionsFit_data();
    void captionsFit();
    void uiFont();
    void paneFont_data();
    void paneFont();
    void sliderKeys_data();
    void sliderKeys();
    void periodTip_data();
    void periodTip();
    void buttonKeys_data();
    void buttonKeys();
    void accessibleTree_data();
    void accessibleTree();
    void clearButton();
    void closing_data();
    void closing();

  private:
    QTemporaryDir dir;
    frmMain *w = nullptr;
};

namespace {

namespace form = kesmar::form;

QString text(std::string_view utf8)
{
    return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
}

QWidget *control(frmMain *w, const QString &name)
{
    return w->centralWidget()->findChild<QWidget *>(name, Qt::FindDirectChildrenOnly);
}

// A face that this machine may or may not have; the checks that name one are
// skipped without it, since the fallbacks are then whatever fontconfig picks.
bool installed(const QString &family)
{
    return QFontDatabase::families().contains(family);
}

// The visible tool tip, as a window of its own.
QWidget *shownTip()
{
    const QWidgetList tops = QApplication::topLevelWidgets();
    const auto tip = std::find_if(tops.begin(), tops.end(), [](QWidget *t) {
        return t->inherits("QTipLabel") && t->isVisible();
    });
    return tip == tops.end() ? nullptr : *tip;
}

} // namespace

void tst_Window::initTestCase()
{
    QVERIFY(dir.isValid());
    QFile f(dir.filePath("test.txt"));
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write("sync,0,0,8,170\r\n");
}

void tst_Window::init()
{
    w = new frmMain;
    w->load(dir.filePath("test.txt"));
    w->show();
    QVERIFY(QTest::qWaitForWindowExposed(w));
}

void tst_Window::cleanup()
{
    delete w;
    w = nullptr;
}

void tst_Window::initialState()
{
    QCOMPARE(w->windowTitle(), QStringLiteral("Tarvolin(TCP Server)"));
    QVERIFY(w->txtStat->text().isEmpty());
    QVERIFY(w->txtDump->text().isEmpty());
    QVERIFY(!w->chkEvent->isChecked());
    QVERIFY(!w->chkDump->isChecked());
    QCOMPARE(w->cmdSend->text(), QStringLiteral("送信"));
    QCOMPARE(w->cmdMonitorInit->text(), QStringLiteral("表示初期化"));
    QVERIFY(!w->tmr1->enabled());
    QCOMPARE(w->sldPeriod->value(), 1000);
    QCOMPARE(w->tmr1->interval(), 1000);
    QVERIFY(w->askServer->isListening());
    // Start-up sets the slider but shows no tip for it.
    QVERIFY(!QToolTip::isVisible());
    // The keyboard starts in the dump pane.
    QCOMPARE(QApplication::focusWidget(), w->txtDump);
}

// Each control of the table as a widget of its kind, in its place at 96 dpi,
// with its caption exactly as written, so with no access-key mark either;
// wholly inside the client area and clear of every other.
void tst_Window::controls_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("caption");
    QTest::addColumn<QRect>("pixels");
    for (const form::Control &c : form::controls) {
        const char *kind = c.kind == form::Kind::CheckBox ? "QCheckBox"
                           : c.kind == form::Kind::Button ? "QPushButton"
                           : c.kind == form::Kind::Slider ? "QSlider"
                           : c.kind == form::Kind::Pane   ? "Pane"
                                                          : nullptr;
        if (!kind)
            continue; // no widget: the timer and the socket control
        const auto px = [](int twips) { return form::pixels(twips, 96); };
        QTest::newRow(std::string(c.name).c_str())
            << kind << text(c.caption) << QRect(px(c.left), px(c.top), px(c.width), px(c.height));
    }
}

void tst_Window::controls()
{
    QFETCH(QString, kind);
    QFETCH(QString, caption);
    QFETCH(QRect, pixels);
    QWidget *c = control(w, QString::fromLatin1(QTest::currentDataTag()));
    QVERIFY(c);
    QVERIFY(c->inherits(qPrintable(kind)));
    QVERIFY(c->isVisible());
    QCOMPARE(c->geometry(), pixels);
    if (auto *b = qobject_cast<QAbstractButton *>(c))
        QCOMPARE(b->text(), caption);
    QVERIFY(w->centralWidget()->rect().contains(c->geometry()));
    for (QWidget *other :
         w->centralWidget()->findChildren<QWidget *>(QString(), Qt::FindDirectChildrenOnly))
        QVERIFY2(other == c || !other->geometry().intersects(c->geometry()),
                 qPrintable(other->objectName()));
}

// Created in the table's order, which stacks them so; the invisible two are
// the window's too, made with its handlers.
void tst_Window::creationOrder()
{
    QStringList order;
    for (QObject *o : w->centralWidget()->children())
        if (o->isWidgetType())
            order << o->objectName();
    QStringList table;
    for (const form::Control &c : form::controls)
        if (form::hasTabStop(c))
            table << text(c.name);
    QCOMPARE(order, table);
    QVERIFY(w->tmr1);
    QVERIFY(w->askServer);
}

void tst_Window::tabOrder_data()
{
    QTest::addColumn<int>("key");
    QTest::addColumn<QStringList>("visits");
    const QStringList forward{"txtDump", "cmdSend",        "txtStat",  "sldPeriod",
                              "chkDump", "cmdMonitorInit", "chkEvent", "txtDump"};
    QStringList backward = forward;
    std::reverse(backward.begin(), backward.end());
    QTest::newRow("Tab") << int(Qt::Key_Tab) << forward;
    QTest::newRow("Shift+Tab") << int(Qt::Key_Backtab) << backward;
}

// Walked with the keys, from the control that has the focus at start-up;
// the panes hand Tab on rather than taking it as text.
void tst_Window::tabOrder()
{
    QFETCH(int, key);
    QFETCH(QStringList, visits);
    QCOMPARE(QApplication::focusWidget(), w->txtDump);
    QStringList seen{QApplication::focusWidget()->objectName()};
    for (int i = 1; i < visits.size(); ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key(key));
        seen << QApplication::focusWidget()->objectName();
    }
    QCOMPARE(seen, visits);
    QVERIFY(w->txtDump->text().isEmpty());
}

void tst_Window::fixedSize_data()
{
    QTest::addColumn<QSize>("asked");
    QTest::newRow("larger") << QSize(800, 700);
    QTest::newRow("smaller") << QSize(200, 150);
}

void tst_Window::fixedSize()
{
    QFETCH(QSize, asked);
    QCOMPARE(w->centralWidget()->size(), QSize(434, 383));
    QCOMPARE(w->centralWidget()->y(), w->menuBar()->height());
    QCOMPARE(w->size(), QSize(434, 383 + w->menuBar()->height()));
    QCOMPARE(w->minimumSize(), w->maximumSize());

    QList<QRect> before;
    const QList<QWidget *> all =
        w->centralWidget()->findChildren<QWidget *>(QString(), Qt::FindDirectChildrenOnly);
    for (QWidget *c : all)
        before << c->geometry();
    const QSize size = w->size();
    w->resize(asked);
    QCoreApplication::processEvents();
    QCOMPARE(w->size(), size);
    QList<QRect> after;
    for (QWidget *c : all)
        after << c->geometry();
    QCOMPARE(after, before);

    // Minimised and closed, never maximised.
    const Qt::WindowFlags flags = w->windowFlags();
    QVERIFY(!(flags & Qt::WindowMaximizeButtonHint));
    QVERIFY(flags & Qt::WindowMinimizeButtonHint);
    QVERIFY(flags & Qt::WindowCloseButtonHint);
}

void tst_Window::menu()
{
    const QList<QAction *> bar = w->menuBar()->actions();
    QCOMPARE(bar.size(), 1);
    QCOMPARE(bar.first()->menu(), w->mnuFile);
    QCOMPARE(w->mnuFile->title(), QStringLiteral("ファイル"));
    const QList<QAction *> items = w->mnuFile->actions();
    QCOMPARE(items.size(), 1);
    QCOMPARE(items.first(), w->mnuExit);
    QCOMPARE(w->mnuExit->text(), QStringLiteral("終了"));
    QVERIFY(w->mnuExit->shortcut().isEmpty());

    // F10 opens it from wherever the keyboard is.
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_F10);
    QTRY_VERIFY(w->mnuFile->isVisible());
    QTest::keyClick(w->mnuFile, Qt::Key_Escape);
    QTRY_VERIFY(!w->mnuFile->isVisible());
}

void tst_Window::captionsFit_data()
{
    QTest::addColumn<QString>("name");
    for (const form::Control &c : form::controls)
        if (c.kind == form::Kind::CheckBox || c.kind == form::Kind::Button)
            QTest::newRow(std::string(c.name).c_str()) << text(c.name);
    QTest::newRow("cmdSend while sending") << QStringLiteral("cmdSend");
}

// The caption's measure beside the check indicator or inside the button's
// margins. (The style's size hint adds focus-frame slack the original
// layout never had room for, so it is not the measure here.)
void tst_Window::captionsFit()
{
    QFETCH(QString, name);
    if (QByteArray(QTest::currentDataTag()).endsWith("while sending"))
        w->cmdSend->click();
    auto *b = qobject_cast<QAbstractButton *>(control(w, name));
    QVERIFY(b);
    const QString why = name + QLatin1String(" in ") + QFontInfo(b->font()).family();
    QVERIFY2(b->fontMetrics().height() <= b->height(), qPrintable(why));

    const QStyle *st = b->style();
    const int text = b->fontMetrics().horizontalAdvance(b->text());
    const int room = qobject_cast<QCheckBox *>(b)
                         ? b->width() - st->pixelMetric(QStyle::PM_IndicatorWidth, nullptr, b) -
                               st->pixelMetric(QStyle::PM_CheckBoxLabelSpacing, nullptr, b)
                         : b->width() - 2 * st->pixelMetric(QStyle::PM_ButtonMargin, nullptr, b);
    QVERIFY2(text <= room, qPrintable(why + QStringLiteral(": %1 > %2").arg(text).arg(room)));
}

void tst_Window::uiFont()
{
    QCOMPARE(w->font().pointSize(), 9);
    if (installed(QStringLiteral("IPAPGothic")))
        QVERIFY2(
            QStringList({"MS UI Gothic", "IPAPGothic"}).contains(QFontInfo(w->font()).family()),
            qPrintable(QFontInfo(w->font()).family()));
    // The drop-down of ファイル is a window of its own yet reads the same.
    QCOMPARE(QFontInfo(w->mnuFile->font()).family(), QFontInfo(w->font()).family());
    QCOMPARE(w->mnuFile->font().pointSize(), 9);
}

void tst_Window::paneFont_data()
{
    QTest::addColumn<QString>("name");
    QTest::newRow("txtStat") << QStringLiteral("txtStat");
    QTest::newRow("txtDump") << QStringLiteral("txtDump");
}

void tst_Window::paneFont()
{
    QFETCH(QString, name);
    auto *p = qobject_cast<Pane *>(control(w, name));
    QVERIFY(p);
    QCOMPARE(p->font().pointSize(), 9);
    QCOMPARE(p->font().weight(), QFont::Normal);
    const QFontInfo resolved(p->font());
    if (installed(QStringLiteral("IPAGothic")))
        QVERIFY2(
            QStringList({"ＭＳ ゴシック", "MS Gothic", "IPAGothic"}).contains(resolved.family()),
            qPrintable(resolved.family()));
    // Dump columns line up only if every character of a dump line is as wide
    // as every other.
    const QFontMetrics fm(p->font());
    const int cell = fm.horizontalAdvance(QLatin1Char('0'));
    for (QChar ch : QStringLiteral("123456789ABCDEF :"))
        QVERIFY2(fm.horizontalAdvance(ch) == cell, qPrintable(resolved.family() + ": " + ch));
    QCOMPARE(p->viewport()->backgroundRole(), QPalette::Base);
}

void tst_Window::sliderKeys_data()
{
    QTest::addColumn<int>("key");
    QTest::addColumn<int>("step");
    QTest::newRow("Left") << int(Qt::Key_Left) << -10;
    QTest::newRow("Right") << int(Qt::Key_Right) << 10;
    QTest::newRow("PageDown") << int(Qt::Key_PageDown) << -100;
    QTest::newRow("PageUp") << int(Qt::Key_PageUp) << 100;
}

// From the middle of the range, so that a step either way is visible; the
// period follows the slider.
void tst_Window::sliderKeys()
{
    QFETCH(int, key);
    QFETCH(int, step);
    QSlider *s = w->sldPeriod;
    QCOMPARE(s->orientation(), Qt::Horizontal);
    QCOMPARE(s->minimum(), 0);
    QCOMPARE(s->maximum(), 1000);
    QCOMPARE(s->tickInterval(), 100);
    QVERIFY(s->tickPosition() != QSlider::NoTicks);
    s->setValue(500);
    s->setFocus();
    QTest::keyClick(s, Qt::Key(key));
    QCOMPARE(s->value(), 500 + step);
    QCOMPARE(w->tmr1->interval(), 500 + step);
}

void tst_Window::periodTip_data()
{
    QTest::addColumn<QString>("how");
    QTest::addColumn<int>("key");
    QTest::addColumn<QString>("tip");
    QTest::newRow("Left") << "key" << int(Qt::Key_Left) << "周期 490 ミリ秒";
    QTest::newRow("PageUp") << "key" << int(Qt::Key_PageUp) << "周期 600 ミリ秒";
    QTest::newRow("Home: no ticks") << "key" << int(Qt::Key_Home) << "0 ミリ秒: 送信しない";
    QTest::newRow("hover") << "hover" << 0 << "周期 500 ミリ秒";
    QTest::newRow("drag to the left end") << "drag" << 0 << "0 ミリ秒: 送信しない";
}

// The period shows beside the handle, from 500 ms, while the user moves it
// and when the pointer rests on it.
void tst_Window::periodTip()
{
    QFETCH(QString, how);
    QFETCH(int, key);
    QFETCH(QString, tip);
    QSlider *s = w->sldPeriod;
    s->setValue(500);
    s->setFocus();
    const QPoint centre = s->rect().center();
    if (how == QLatin1String("hover")) {
        QHelpEvent help(QEvent::ToolTip, centre, s->mapToGlobal(centre));
        QApplication::sendEvent(s, &help);
    } else if (how == QLatin1String("drag")) {
        QTest::mousePress(s, Qt::LeftButton, {}, centre);
        QTest::mouseMove(s, QPoint(0, centre.y()));
    } else {
        QTest::keyClick(s, Qt::Key(key));
    }
    QTRY_VERIFY(shownTip());
    QCOMPARE(QToolTip::text(), tip);
    // Near the handle, which stands where the value is along the groove.
    const int along = s->x() + s->width() * s->sliderPosition() / s->maximum();
    const int tipLeft = w->centralWidget()->mapFromGlobal(shownTip()->pos()).x();
    QVERIFY2(std::abs(tipLeft - along) < 30, qPrintable(QString::number(tipLeft - along)));
    if (how == QLatin1String("drag"))
        QTest::mouseRelease(s, Qt::LeftButton, {}, QPoint(0, centre.y()));
    QToolTip::hideText();
}

void tst_Window::buttonKeys_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("key");
    QTest::addColumn<int>("presses");
    QTest::newRow("Return on cmdSend") << "cmdSend" << int(Qt::Key_Return) << 1;
    QTest::newRow("Enter on cmdSend") << "cmdSend" << int(Qt::Key_Enter) << 1;
    QTest::newRow("Space on cmdSend") << "cmdSend" << int(Qt::Key_Space) << 1;
    QTest::newRow("Return on cmdMonitorInit") << "cmdMonitorInit" << int(Qt::Key_Return) << 1;
    QTest::newRow("Return on chkDump") << "chkDump" << int(Qt::Key_Return) << 0;
}

// Enter presses the focused button as Space does; a check box is toggled
// by Space alone.
void tst_Window::buttonKeys()
{
    QFETCH(QString, name);
    QFETCH(int, key);
    QFETCH(int, presses);
    auto *b = qobject_cast<QAbstractButton *>(control(w, name));
    QVERIFY(b);
    b->setFocus();
    QSignalSpy clicked(b, &QAbstractButton::clicked);
    QTest::keyClick(b, Qt::Key(key));
    QCOMPARE(clicked.count(), presses);
    if (name == QLatin1String("cmdSend")) {
        QVERIFY(w->tmr1->enabled());
        QCOMPARE(b->text(), QStringLiteral("停止"));
    }
}

void tst_Window::accessibleTree_data()
{
    QTest::addColumn<int>("tabs");
    QTest::addColumn<QString>("objectName");
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("role");
    QTest::addColumn<QString>("description");
    QTest::addColumn<QString>("value");
    const int button = QAccessible::Button, checkBox = QAccessible::CheckBox,
              pane = QAccessible::EditableText, slider = QAccessible::Slider;
    QTest::newRow("0 txtDump") << 0 << "txtDump"
                               << "ダンプ表示" << pane << "送受信の先頭8バイトの16進表示"
                               << "";
    QTest::newRow("1 cmdSend") << 1 << "cmdSend"
                               << "送信" << button << "周期送信の開始と停止"
                               << "";
    QTest::newRow("1 cmdSend while sending") << 1 << "cmdSend"
                                             << "停止" << button << "周期送信の開始と停止"
                                             << "";
    QTest::newRow("2 txtStat") << 2 << "txtStat"
                               << "イベントログ" << pane << "接続と送受信の記録"
                               << "";
    QTest::newRow("3 sldPeriod") << 3 << "sldPeriod"
                                 << "送信周期" << slider << "ミリ秒単位、0 で送信しない"
                                 << "1000";
    QTest::newRow("4 chkDump") << 4 << "chkDump"
                               << "ダンプする" << checkBox << "送受信の先頭8バイトをダンプする"
                               << "";
    QTest::newRow("5 cmdMonitorInit") << 5 << "cmdMonitorInit"
                                      << "表示初期化" << button << "表示を初期化する"
                                      << "";
    QTest::newRow("6 chkEvent") << 6 << "chkEvent"
                                << "イベントを表示しない" << checkBox << "接続イベントを表示しない"
                                << "";
}

// What a screen reader says as the user tabs through the window: each
// control by what it shows, or a short name where it shows none, then its
// role and description; the slider adds its value. Automation still finds
// each by its object name.
void tst_Window::accessibleTree()
{
    QFETCH(int, tabs);
    QFETCH(QString, objectName);
    QFETCH(QString, name);
    QFETCH(int, role);
    QFETCH(QString, description);
    QFETCH(QString, value);
    if (QByteArray(QTest::currentDataTag()).endsWith("while sending"))
        w->cmdSend->click();
    QCOMPARE(QApplication::focusWidget(), w->txtDump);
    for (int i = 0; i < tabs; ++i)
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);

    QAccessibleInterface *window = QAccessible::queryAccessibleInterface(w);
    QVERIFY(window);
    QAccessibleInterface *focused = window->focusChild();
    QVERIFY(focused);
    QCOMPARE(focused->object()->objectName(), objectName);
    QVERIFY(focused->state().focused);
    QAccessibleInterface *up = focused;
    while (up && up != window)
        up = up->parent();
    QVERIFY2(up, "not in the window's accessible tree");

    QCOMPARE(focused->text(QAccessible::Name), name);
    QCOMPARE(int(focused->role()), role);
    QCOMPARE(focused->text(QAccessible::Description), description);
    QAccessibleValueInterface *values = focused->valueInterface();
    QCOMPARE(values != nullptr, !value.isEmpty());
    if (values) {
        QCOMPARE(focused->text(QAccessible::Value), value);
        QCOMPARE(values->currentValue().toString(), value);
        // A step changes the value it reads, not the name.
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Left);
        QCOMPARE(values->currentValue().toInt(), value.toInt() - 10);
        QCOMPARE(focused->text(QAccessible::Name), name);
    }
}

void tst_Window::clearButton()
{
    w->txtStat->appendText(std::string_view("Close 1\r\n"));
    w->dump(std::vector<std::uint8_t>{1, 2, 3, 4}, 8);
    QVERIFY(!w->txtDump->text().isEmpty());
    QTest::mouseClick(w->cmdMonitorInit, Qt::LeftButton);
    QVERIFY(w->txtStat->text().isEmpty());
    QVERIFY(w->txtDump->text().isEmpty());
    QCOMPARE(w->cmdMonitorInit->text(), QStringLiteral("表示初期化"));
    QVERIFY(w->askServer->isListening());
}

void tst_Window::closing_data()
{
    QTest::addColumn<bool>("viaMenu");
    QTest::addColumn<bool>("withClient");
    QTest::newRow("close button, idle") << false << false;
    QTest::newRow("close button, client connected") << false << true;
    QTest::newRow("ファイル > 終了, idle") << true << false;
    QTest::newRow("ファイル > 終了, client connected") << true << true;
}

// Both ways out run the unload once, close the socket and leave the program
// without a window, which ends it.
void tst_Window::closing()
{
    QFETCH(bool, viaMenu);
    QFETCH(bool, withClient);
    QTcpSocket client;
    if (withClient) {
        client.connectToHost(QHostAddress::LocalHost, frmMain::port);
        QVERIFY(client.waitForConnected(5000));
        QTRY_VERIFY(w->txtStat->text().startsWith(QLatin1String("Accept requestID = ")));
    }
    QSignalSpy unloaded(w, &frmMain::unloaded);
    if (viaMenu)
        w->mnuExit->trigger();
    else
        w->close();
    QCOMPARE(unloaded.count(), 1);
    QCOMPARE(w->unloadCount(), 1);
    QVERIFY(!w->isVisible());
    QVERIFY(!w->askServer->isListening());
    // No window left visible is what makes the application quit.
    const QWidgetList tops = QApplication::topLevelWidgets();
    QVERIFY(std::none_of(tops.begin(), tops.end(), [](QWidget *t) { return t->isVisible(); }));
    if (withClient)
        QTRY_COMPARE(client.state(), QAbstractSocket::UnconnectedState);

    // Nothing is left to unload a second time.
    w->close();
    QCOMPARE(w->unloadCount(), 1);
    QCOMPARE(unloaded.count(), 1);
}

QTEST_MAIN(tst_Window)
#include "tst_window.moc"

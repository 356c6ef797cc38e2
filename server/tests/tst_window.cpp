#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QFontInfo>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QSlider>
#include <QStyle>
#include <QTemporaryDir>
#include <QTest>

#include "frmMain.h"

// The window as the user first sees it, offscreen.
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
    void tabOrderAndFocus();
    void fixedClientArea();
    void captionsFit();
    void paneFont();
    void sliderSteps();
    void clearEmptiesBothPanes();
    void closing_data();
    void closing();

  private:
    QTemporaryDir dir;
    frmMain *w = nullptr;
};

void tst_Window::initTestCase()
{
    QFile f(dir.filePath("test.txt"));
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write("x,0,0,8,1\r\n");
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
    QVERIFY(w->txtStat->toPlainText().isEmpty());
    QVERIFY(w->txtDump->toPlainText().isEmpty());
    QVERIFY(!w->chkEvent->isChecked());
    QVERIFY(!w->chkDump->isChecked());
    QCOMPARE(w->cmdSend->text(), QStringLiteral("送信"));
    QVERIFY(!w->tmr1->enabled());
    QCOMPARE(w->sldPeriod->value(), 1000);
    QCOMPARE(w->tmr1->interval(), 1000);
    QVERIFY(w->askServer->isListening());
}

// Positions in twips as designed; 15 twips make a pixel at 96 dpi.
void tst_Window::controls_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("caption");
    QTest::addColumn<QRect>("twips");
    QTest::newRow("chkEvent") << "chkEvent"
                              << "イベントを表示しない" << QRect(4320, 3240, 1935, 300);
    QTest::newRow("cmdMonitorInit") << "cmdMonitorInit"
                                    << "表示初期化" << QRect(4080, 2520, 1935, 495);
    QTest::newRow("chkDump") << "chkDump"
                             << "ダンプする" << QRect(4320, 3600, 1215, 255);
    QTest::newRow("sldPeriod") << "sldPeriod"
                               << "" << QRect(4080, 1560, 1935, 495);
    QTest::newRow("txtStat") << "txtStat"
                             << "" << QRect(0, 3240, 3495, 2415);
    QTest::newRow("cmdSend") << "cmdSend"
                             << "送信" << QRect(4080, 240, 1935, 975);
    QTest::newRow("txtDump") << "txtDump"
                             << "" << QRect(0, 30, 3495, 2655);
}

void tst_Window::controls()
{
    QFETCH(QString, name);
    QFETCH(QString, caption);
    QFETCH(QRect, twips);
    auto *c = w->centralWidget()->findChild<QWidget *>(name);
    QVERIFY(c);
    const QRect px(twips.x() / 15, twips.y() / 15, twips.width() / 15, twips.height() / 15);
    QCOMPARE(c->geometry(), px);
    if (auto *b = qobject_cast<QAbstractButton *>(c))
        QCOMPARE(b->text(), caption);
    // No access-key marks in any caption.
    QVERIFY(!caption.contains('&'));
}

void tst_Window::tabOrderAndFocus()
{
    QCOMPARE(QApplication::focusWidget(), w->txtDump);
    const QList<QWidget *> expected{w->txtDump, w->cmdSend,        w->txtStat, w->sldPeriod,
                                    w->chkDump, w->cmdMonitorInit, w->chkEvent};
    QWidget *at = w->txtDump;
    for (int i = 1; i < expected.size(); ++i) {
        QTest::keyClick(at, Qt::Key_Tab);
        at = QApplication::focusWidget();
        QCOMPARE(at, expected.at(i));
    }
}

void tst_Window::fixedClientArea()
{
    QCOMPARE(w->centralWidget()->size(), QSize(434, 383));
    QCOMPARE(w->centralWidget()->y(), w->menuBar()->height());
    const QSize before = w->size();
    w->resize(800, 700);
    QCoreApplication::processEvents();
    QCOMPARE(w->size(), before);
    QCOMPARE(w->cmdSend->geometry(), QRect(272, 16, 129, 65));
    QVERIFY(!(w->windowFlags() & Qt::WindowMaximizeButtonHint));

    QCOMPARE(w->menuBar()->actions().size(), 1);
    QCOMPARE(w->mnuFile->title(), QStringLiteral("ファイル"));
    QCOMPARE(w->mnuFile->actions().size(), 1);
    QCOMPARE(w->mnuExit->text(), QStringLiteral("終了"));
    QVERIFY(w->mnuExit->shortcut().isEmpty());
}

void tst_Window::captionsFit()
{
    // The text itself, beside its check indicator or inside the button margins.
    for (QAbstractButton *b : w->centralWidget()->findChildren<QAbstractButton *>()) {
        QStyle *st = b->style();
        const int text = b->fontMetrics().horizontalAdvance(b->text());
        const int room =
            qobject_cast<QCheckBox *>(b)
                ? b->width() - st->pixelMetric(QStyle::PM_IndicatorWidth, nullptr, b) -
                      st->pixelMetric(QStyle::PM_CheckBoxLabelSpacing, nullptr, b)
                : b->width() - 2 * st->pixelMetric(QStyle::PM_ButtonMargin, nullptr, b);
        QVERIFY2(text <= room, qPrintable(b->objectName() + ": " + QString::number(text) + " > " +
                                          QString::number(room)));
    }
}

void tst_Window::paneFont()
{
    // Dump columns line up only if every character of a dump line is as wide
    // as every other.
    for (Pane *p : {w->txtStat, w->txtDump}) {
        QCOMPARE(p->font().pointSize(), 9);
        const QFontMetrics fm(p->font());
        const int cell = fm.horizontalAdvance(QLatin1Char('0'));
        for (QChar ch : QStringLiteral("123456789ABCDEF :"))
            QVERIFY2(fm.horizontalAdvance(ch) == cell,
                     qPrintable(QFontInfo(p->font()).family() + ": " + ch));
    }
}

void tst_Window::sliderSteps()
{
    QCOMPARE(w->sldPeriod->orientation(), Qt::Horizontal);
    QCOMPARE(w->sldPeriod->minimum(), 0);
    QCOMPARE(w->sldPeriod->maximum(), 1000);
    w->sldPeriod->setFocus();
    QTest::keyClick(w->sldPeriod, Qt::Key_Left);
    QCOMPARE(w->sldPeriod->value(), 990);
    QTest::keyClick(w->sldPeriod, Qt::Key_PageDown);
    QCOMPARE(w->sldPeriod->value(), 890);
    QCOMPARE(w->tmr1->interval(), 890);
    QCOMPARE(w->sldPeriod->tickInterval(), 100);
}

void tst_Window::clearEmptiesBothPanes()
{
    w->txtStat->appendText(std::string_view("Close 1\r\n"));
    w->dump(std::vector<std::uint8_t>{1, 2, 3, 4}, 8);
    w->cmdMonitorInit->click();
    QVERIFY(w->txtStat->toPlainText().isEmpty());
    QVERIFY(w->txtDump->toPlainText().isEmpty());
    QVERIFY(w->askServer->isListening());
}

void tst_Window::closing_data()
{
    QTest::addColumn<bool>("viaMenu");
    QTest::newRow("frame close button") << false;
    QTest::newRow("File, Exit") << true;
}

void tst_Window::closing()
{
    QFETCH(bool, viaMenu);
    QSignalSpy unloaded(w, &frmMain::unloaded);
    if (viaMenu)
        w->mnuExit->trigger();
    else
        w->close();
    QCOMPARE(unloaded.count(), 1);
    QCOMPARE(w->unloadCount(), 1);
    QVERIFY(!w->isVisible());
    QVERIFY(!w->askServer->isListening());
    // A second close does not run the unload again.
    w->close();
    QCOMPARE(w->unloadCount(), 1);
}

QTEST_MAIN(tst_Window)
#include "tst_window.moc"

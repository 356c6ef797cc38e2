#include "frmMain.h"

#include <algorithm>
#include <filesystem>

#include <QAction>
#include <QCheckBox>
#include <QCloseEvent>
#include <QFile>
#include <QPushButton>
#include <QSlider>

#include "Common.h"
#include "Fatal.h"
#include "LogLine.h"
#include "PatternReader.h"
#include "ProgramDir.h"
#include "SendStatsTip.h"
#include "TickCount.h"

namespace {

// Check boxes are read as 0 or 1, anew at every use.
int value(const QCheckBox *box)
{
    return box->isChecked() ? 1 : 0;
}

std::filesystem::path toPath(const QString &file)
{
#ifdef _WIN32
    return std::filesystem::path(file.toStdWString());
#else
    return std::filesystem::path(QFile::encodeName(file).toStdString());
#endif
}

// A second of blocks may wait for a client that falls behind: a pause of up
// to a second costs it nothing, a longer one costs it the ticks beyond that,
// skipped whole, and when it reads again it gets at most a second of old
// blocks before the current ones. Never less than one, so that with a period
// over a second a block still waits behind the one being sent.
std::int64_t backlogBlocks(std::int32_t periodMs)
{
    return periodMs > 0 ? std::max<std::int64_t>(1, 1000 / periodMs) : 1;
}

} // namespace

frmMain::frmMain(QWidget *parent) : QMainWindow(parent)
{
    createControls();
    wireNotifications();
    new SendStatsTip(cmdSend, askServer, tmr1, sendBuf);
}

std::filesystem::path frmMain::defaultPatternFile()
{
    return programDirectory() / "test.txt";
}

void frmMain::load(const std::filesystem::path &patternFile)
{
    runHandler([&] {
        sendBuf = kesmar::loadPatternFile(patternFile);
        startServer();
    });
}

void frmMain::load(const QString &patternFile)
{
    load(toPath(patternFile));
}

void frmMain::startServer()
{
    askServer->setLocalPort(port);
    askServer->Listen();
    askServer->setSocketFlag(true);
    askServer->setReceiveBufferSize(socketBufferSize);
    askServer->setSendBufferSize(socketBufferSize);
    // Raises the value-change notification, which hands the period to tmr1.
    sldPeriod->setValue(initialPeriod);
}

void frmMain::acceptClient(std::int32_t requestID)
{
    runHandler([&] {
        askServer->Close();
        askServer->Accept(requestID);
        txtStat->appendText(kesmar::logline::accept(requestID, kesmar::tickCount()));
    });
}

void frmMain::closeAndListen()
{
    runHandler([&] {
        if (value(chkEvent) == 0)
            txtStat->appendText(kesmar::logline::close(kesmar::tickCount()));
        askServer->Close();
        askServer->Listen();
    });
}

void frmMain::toggleSending()
{
    if (!tmr1->enabled()) {
        tmr1->setEnabled(true);
        cmdSend->setText(QStringLiteral("停止"));
    } else {
        tmr1->setEnabled(false);
        cmdSend->setText(QStringLiteral("送信"));
    }
}

void frmMain::applyPeriod()
{
    tmr1->setInterval(sldPeriod->value());
    askServer->setBacklogLimit(backlogBlocks(tmr1->interval()));
}

void frmMain::sendPattern()
{
    runHandler([&] {
        askServer->SendData(sendBuf);
        if (value(chkDump) == 1)
            dump(sendBuf, dumpLength);
    });
}

void frmMain::receiveData(std::int32_t bytesTotal)
{
    runHandler([&] {
        if (value(chkEvent) == 0)
            txtStat->appendText(kesmar::logline::receive(bytesTotal, kesmar::tickCount()));
        std::vector<std::uint8_t> rcvBuf;
        askServer->GetData(rcvBuf, SockCtl::byteArrayType, bytesTotal);
        if (value(chkDump) == 1)
            dump(rcvBuf, dumpLength);
    });
}

void frmMain::logSend(std::int32_t bytesSent, std::int32_t /*bytesRemaining*/)
{
    if (value(chkEvent) == 0)
        txtStat->appendText(kesmar::logline::send(bytesSent, kesmar::tickCount()));
}

void frmMain::dump(std::span<const std::uint8_t> dat, std::int32_t maxBytes)
{
    txtDump->appendText(kesmar::dumpBlock(dat, maxBytes));
}

void frmMain::clearPanes()
{
    txtDump->clearText();
    txtStat->clearText();
}

void frmMain::closeEvent(QCloseEvent *event)
{
    unload();
    event->accept();
}

// The frame's close button and "終了" both end here; the unload is never
// cancelled and runs once.
void frmMain::unload()
{
    if (unloadCount_ > 0)
        return;
    ++unloadCount_;
    askServer->Close();
    tmr1->setEnabled(false);
    emit unloaded();
}

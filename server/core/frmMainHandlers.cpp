#include "frmMainHandlers.h"

#include <algorithm>

#include "Common.h"
#include "Fatal.h"
#include "Form.h"
#include "LogLine.h"
#include "PatternReader.h"
#include "TickCount.h"

namespace kesmar {

namespace {

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

frmMainHandlers::frmMainHandlers(FormControls controls, EventLoop &loop)
    : wakes_(loop), askServer(wakes_.view(0), *this),
      tmr1(wakes_.view(1), [this] { sendPattern(); }), c_(controls)
{}

void frmMainHandlers::load(const std::filesystem::path &patternFile)
{
    runHandler([&] {
        sendBuf = loadPatternFile(patternFile);
        startServer();
    });
}

void frmMainHandlers::startServer()
{
    askServer.setLocalPort(port);
    askServer.Listen();
    askServer.setSocketFlag(true);
    askServer.setReceiveBufferSize(socketBufferSize);
    askServer.setSendBufferSize(socketBufferSize);
    // Raises the value-change notification, which hands the period to tmr1.
    c_.sldPeriod.setValue(initialPeriod);
}

void frmMainHandlers::ConnectionRequest(std::int32_t requestID)
{
    runHandler([&] {
        askServer.Close();
        askServer.Accept(requestID);
        c_.txtStat.appendText(logline::accept(requestID, tickCount()));
    });
}

void frmMainHandlers::PeerClose()
{
    runHandler([&] {
        if (c_.chkEvent.value() == 0)
            c_.txtStat.appendText(logline::close(tickCount()));
        askServer.Close();
        askServer.Listen();
    });
}

void frmMainHandlers::toggleSending()
{
    if (!tmr1.enabled()) {
        tmr1.setEnabled(true);
        c_.cmdSend.setCaption(form::stopCaption);
        everOn_ = true;
        sent0_ = askServer.sentCopies();
        skipped0_ = askServer.skippedSends();
        missed0_ = tmr1.missedTicks();
    } else {
        tmr1.setEnabled(false);
        constexpr std::string_view sendCaption = form::control("cmdSend").caption;
        c_.cmdSend.setCaption(sendCaption);
    }
}

void frmMainHandlers::applyPeriod()
{
    tmr1.setInterval(c_.sldPeriod.value());
    askServer.setBacklogLimit(backlogBlocks(tmr1.interval()));
}

void frmMainHandlers::sendPattern()
{
    runHandler([&] {
        askServer.SendData(sendBuf);
        if (c_.chkDump.value() == 1)
            dump(sendBuf, dumpLength);
    });
}

void frmMainHandlers::DataArrival(std::int32_t bytesTotal)
{
    runHandler([&] {
        if (c_.chkEvent.value() == 0)
            c_.txtStat.appendText(logline::receive(bytesTotal, tickCount()));
        std::vector<std::uint8_t> rcvBuf;
        askServer.GetData(rcvBuf, SockCtl::byteArrayType, bytesTotal);
        if (c_.chkDump.value() == 1)
            dump(rcvBuf, dumpLength);
    });
}

void frmMainHandlers::SendProgress(std::int32_t bytesSent, std::int32_t /*bytesRemaining*/)
{
    runHandler([&] {
        if (c_.chkEvent.value() == 0)
            c_.txtStat.appendText(logline::send(bytesSent, tickCount()));
    });
}

void frmMainHandlers::SendComplete()
{
    if (onSendComplete)
        onSendComplete();
}

void frmMainHandlers::dump(std::span<const std::uint8_t> dat, std::int32_t maxBytes)
{
    c_.txtDump.appendText(dumpBlock(dat, maxBytes));
}

void frmMainHandlers::clearPanes()
{
    c_.txtDump.clearText();
    c_.txtStat.clearText();
}

// The frame's close button and "終了" both end here; the unload is never
// cancelled and runs once.
void frmMainHandlers::unload()
{
    if (unloadCount_ > 0)
        return;
    ++unloadCount_;
    askServer.Close();
    tmr1.setEnabled(false);
}

std::string frmMainHandlers::sendTip() const
{
    // An empty test.txt starts the server all the same; this says why nothing
    // ever arrives.
    const std::string block = sendBuf.empty()
                                  ? "ブロック 0 バイト: 送るものがありません\n"
                                  : "ブロック " + std::to_string(sendBuf.size()) + " バイト\n";
    if (!everOn_)
        return block + "まだ送信していません";
    return block +
           "送信を始めてから\n"
           "送信したブロック: " +
           std::to_string(askServer.sentCopies() - sent0_) +
           "\n"
           "相手の受信が追いつかず飛ばしたブロック: " +
           std::to_string(askServer.skippedSends() - skipped0_) +
           "\n"
           "処理が遅れて抜けた周期: " +
           std::to_string(tmr1.missedTicks() - missed0_);
}

std::string periodTip(std::int32_t milliseconds)
{
    if (milliseconds == 0)
        return "0 ミリ秒: 送信しない";
    return "周期 " + std::to_string(milliseconds) + " ミリ秒";
}

} // namespace kesmar

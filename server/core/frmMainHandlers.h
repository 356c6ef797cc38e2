#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "Controls.h"
#include "EventLoop.h"
#include "SendClock.h"
#include "SharedWake.h"
#include "SockCtl.h"

namespace kesmar {

// frmMain's state and its handlers, one for each notification, free of any
// toolkit: each front end builds the window's controls, hands them over
// here, and turns its platform's notifications into these calls. Every
// handler runs on the GUI thread; one that fails ends the program through
// fatalError().
class frmMainHandlers final : private SockCtlEvents
{
  public:
    static constexpr std::int32_t port = 20319;
    static constexpr std::int32_t socketBufferSize = 32768;
    static constexpr std::int32_t initialPeriod = 1000;
    static constexpr std::int32_t dumpLength = 8;

    frmMainHandlers(FormControls controls, EventLoop &loop);

    // The window's load: reads the pattern, then starts the server.
    void load(const std::filesystem::path &patternFile);
    // The window's unload, by its close button or by "終了"; runs once.
    void unload();

    void toggleSending(); // cmdSend pressed
    void clearPanes();    // cmdMonitorInit pressed
    void applyPeriod();   // sldPeriod's value changed

    // Appends a hex dump of at most maxBytes leading bytes of dat to txtDump.
    void dump(std::span<const std::uint8_t> dat, std::int32_t maxBytes);

    const std::vector<std::uint8_t> &pattern() const { return sendBuf; }
    int unloadCount() const { return unloadCount_; }

    // The send button's tip: how sending has gone since it was last
    // switched on.
    std::string sendTip() const;

    // Called after each SendComplete, for a front end that holds pane
    // repaints while a block is still going out.
    std::function<void()> onSendComplete;

  private:
    // Before the two that share it.
    SharedWake wakes_;

  public:
    SockCtl askServer;
    SendClock tmr1;

  private:
    void startServer();
    void sendPattern();
    void ConnectionRequest(std::int32_t requestID) override;
    void DataArrival(std::int32_t bytesTotal) override;
    void PeerClose() override;
    void SendComplete() override;
    void SendProgress(std::int32_t bytesSent, std::int32_t bytesRemaining) override;

    FormControls c_;
    std::vector<std::uint8_t> sendBuf;
    int unloadCount_ = 0;
    // The counters when sending was last switched on.
    bool everOn_ = false;
    std::int64_t sent0_ = 0;
    std::int64_t skipped0_ = 0;
    std::int64_t missed0_ = 0;
};

// The period slider's tip for a period in milliseconds.
std::string periodTip(std::int32_t milliseconds);

} // namespace kesmar

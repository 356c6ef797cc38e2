#pragma once

#include <algorithm>
#include <cstdint>
#include <deque>
#include <map>
#include <span>
#include <stdexcept>
#include <vector>

#include "EventLoop.h"
#include "Lifeline.h"
#include "Net.h"
#include "SendQueue.h"

namespace kesmar {

// A failed socket operation; the message names what failed and why.
class SockCtlError : public std::runtime_error
{
  public:
    using std::runtime_error::runtime_error;
};

// The socket control's notifications, raised on the GUI thread.
class SockCtlEvents
{
  public:
    virtual void ConnectionRequest(std::int32_t requestID) = 0;
    virtual void DataArrival(std::int32_t bytesTotal) = 0;
    virtual void PeerClose() = 0;
    virtual void SendComplete() = 0;
    // bytesSent: bytes the OS has taken since the last SendProgress;
    // bytesRemaining: bytes the program still holds for it. Raised from the
    // event loop at most once per SendData call and once when the queue
    // runs dry, never once per piece handed to the OS.
    virtual void SendProgress(std::int32_t bytesSent, std::int32_t bytesRemaining) = 0;

  protected:
    ~SockCtlEvents() = default;
};

// The server's socket control: one TCP socket, either listening or carrying
// one connection, driven by the event loop's word that a socket is ready.
//
// A connection request is announced with a requestID, a positive sequence
// number counted from 1 for each request since start (wrapping back to 1).
// The request can be accepted until the ConnectionRequest handler returns,
// even across Close(); one that is not accepted by then is closed.
//
// Connections the OS completed behind the one being served are not reset
// when listening ends: they are held, in the order they came, for
// holdGraceMs. Should the served one turn out to be gone already (a port
// probe that connects and closes, a health check), Listen() announces the
// held ones in turn. Otherwise they are reset when the grace ends, and the
// port is closed: a client behind a live one is turned away within
// holdGraceMs, none is left connected to nothing.
class SockCtl
{
  public:
    static constexpr std::int32_t byteArrayType = 8209;
    // Long enough for a probe's close to follow its connect, under Wine
    // too; short enough that a client turned away hears it at once.
    static constexpr std::int32_t holdGraceMs = 50;
    // Held beyond this many, a connection is reset at once.
    static constexpr std::size_t holdLimit = 8;
    // A connection is read in turns, one this long at least after the last
    // that found data: a client that sends faster waits in the OS, its TCP
    // window shut, rather than take the thread (and under Wine the
    // wineserver) from the ticks. Each turn reads what has arrived, a
    // receive buffer's worth at most.
    static constexpr std::int32_t readTurnUs = 1000;

    SockCtl(EventLoop &loop, SockCtlEvents &events);
    ~SockCtl();
    SockCtl(const SockCtl &) = delete;
    SockCtl &operator=(const SockCtl &) = delete;

    void setLocalPort(std::int32_t port) { localPort_ = port; }
    std::int32_t LocalPort() const { return localPort_; }

    // Turns Nagle's algorithm off, so each block leaves when it is sent.
    void setSocketFlag(bool on);
    // OS buffer sizes of the listening socket and of every accepted connection.
    void setReceiveBufferSize(std::int32_t bytes);
    void setSendBufferSize(std::int32_t bytes);

    // Throws SockCtlError when the port cannot be bound. Announces the
    // connections held since listening ended first.
    void Listen();
    // Ends listening and any connection; raises no notification.
    void Close();
    void Accept(std::int32_t &requestID);

    // Hands bytes to the OS, or queues what it cannot take yet. Without a
    // connection, or with nothing to send, it does nothing. A send that finds
    // backlogLimit() whole copies already waiting is skipped whole, so a
    // client that falls behind never sees a partial copy, receives at most
    // that backlog of old copies when it catches up, and memory stays bounded.
    void SendData(std::span<const std::uint8_t> bytes);
    // Copies that may wait beyond the one the OS is taking; at least 1.
    void setBacklogLimit(std::int64_t copies) { backlogLimit_ = std::max<std::int64_t>(copies, 1); }
    std::int64_t backlogLimit() const { return backlogLimit_; }
    // Replaces buffer with at most maxLen received bytes.
    void GetData(std::vector<std::uint8_t> &buffer, std::int32_t type, std::int32_t maxLen);

    // Announcing requests. The port itself stays open for the grace after
    // listening ends, for the connections held then.
    bool isListening() const { return announcing_ && listener_ != net::invalidSocket; }
    std::size_t connectionsHeld() const { return held_.size(); }
    const std::deque<net::Socket> &heldConnections() const { return held_; }
    // The port actually bound; differs from LocalPort() only when that is 0.
    std::int32_t boundPort() const;
    bool isConnected() const { return conn_ != net::invalidSocket; }
    net::Socket connection() const { return conn_; }
    // Bytes held by the program, not yet taken by the OS.
    std::int64_t bytesQueued() const { return queue_.bytesHeld(); }
    std::int64_t copiesWaiting() const { return queue_.copiesWaiting(); }
    // Since start, across connections: copies wholly taken by the OS, and
    // sends skipped because the backlog was full.
    std::int64_t sentCopies() const { return sentCopies_; }
    std::int64_t skippedSends() const { return skipped_; }

  private:
    // The listener and the connection report apart; word about a
    // connection that has just been replaced is checked against the socket
    // itself, so a stale one does nothing.
    struct ListenerSink final : EventLoop::SocketSink
    {
        SockCtl *ctl;
        void readable() override { ctl->takePending(); }
        void writable() override {}
    };
    struct ConnectionSink final : EventLoop::SocketSink
    {
        SockCtl *ctl;
        void readable() override { ctl->connectionReadable(); }
        void writable() override { ctl->flushQueue(); }
    };

    static std::int32_t clampToInt32(std::int64_t v);
    void takePending();
    void announceHeld();
    void stopAnnouncing();
    void endGrace();
    void armWake();
    void woken();
    void connectionReadable();
    void readTurn();
    void pauseReading();
    void resumeReading();
    void applyOptions(net::Socket s) const;
    void closeListener();
    void dropConnection();
    void flushQueue();
    // Accounts for what the OS took, and waits for room if it took too little.
    void settle(const SendQueue::Fed &fed);
    void followWindow();
    void progressDue();
    void reportProgress();

    EventLoop &loop_;
    SockCtlEvents &events_;
    std::int32_t localPort_ = 0;
    bool noDelay_ = false;
    std::int32_t receiveBuffer_ = 0;
    std::int32_t sendBuffer_ = 0;
    std::int32_t lastRequestID_ = 0;
    std::int64_t skipped_ = 0;
    std::int64_t sentCopies_ = 0;
    std::int64_t backlogLimit_ = 100; // a second at 10 ms, until the window sets it
    std::int64_t taken_ = 0;          // bytes taken by the OS and not yet reported
    bool reportPosted_ = false;
    bool announcing_ = false;
    bool announcePosted_ = false;
    bool graceArmed_ = false;
    std::int64_t graceDueNs_ = 0;
    bool wakeArmed_ = false;
    bool readPaused_ = false; // unwatched until nextReadNs_
    std::int64_t nextReadNs_ = 0;
    bool writeWanted_ = false;
    std::int64_t peerWindowDueNs_ = 0;
    SendQueue queue_;
    // Calls posted to the loop outlive nothing: they check this first.
    Lifeline lifeline_;

    net::Socket listener_ = net::invalidSocket;
    net::Socket conn_ = net::invalidSocket;
    std::map<std::int32_t, net::Socket> pending_;
    std::deque<net::Socket> held_;
    ListenerSink listenerSink_;
    ConnectionSink connectionSink_;
};

} // namespace kesmar

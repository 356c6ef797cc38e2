#include "SockCtl.h"

#include <limits>
#include <string>

#include "SocketOptions.h"

namespace kesmar {

std::int32_t SockCtl::clampToInt32(std::int64_t v)
{
    return static_cast<std::int32_t>(
        std::clamp<std::int64_t>(v, 0, std::numeric_limits<std::int32_t>::max()));
}

SockCtl::SockCtl(EventLoop &loop, SockCtlEvents &events) : loop_(loop), events_(events)
{
    listenerSink_.ctl = this;
    connectionSink_.ctl = this;
}

SockCtl::~SockCtl()
{
    announcing_ = false;
    closeListener();
    dropConnection();
    for (const auto &[id, s] : pending_)
        net::close(s);
    for (const net::Socket s : held_)
        net::reset(s);
    if (wakeArmed_)
        loop_.cancelWake();
}

void SockCtl::setSocketFlag(bool on)
{
    noDelay_ = on;
    if (isConnected())
        applyOptions(conn_);
}

void SockCtl::setReceiveBufferSize(std::int32_t bytes)
{
    receiveBuffer_ = bytes;
    // Accepted sockets inherit the listener's, which matters for the
    // receive window agreed during the handshake.
    if (listener_ != net::invalidSocket)
        net::setBufferSizes(listener_, receiveBuffer_, 0);
    if (isConnected())
        applyOptions(conn_);
}

void SockCtl::setSendBufferSize(std::int32_t bytes)
{
    sendBuffer_ = bytes;
    if (listener_ != net::invalidSocket)
        net::setBufferSizes(listener_, 0, sendBuffer_);
    if (isConnected())
        applyOptions(conn_);
}

void SockCtl::applyOptions(net::Socket s) const
{
    net::setNoDelay(s, noDelay_);
    net::setBufferSizes(s, receiveBuffer_, sendBuffer_);
}

std::int32_t SockCtl::boundPort() const
{
    return listener_ != net::invalidSocket ? net::localPort(listener_) : 0;
}

void SockCtl::Listen()
{
    if (listener_ == net::invalidSocket) {
        try {
            listener_ = net::listenTcp(static_cast<std::uint16_t>(localPort_),
                                       kesmar::listenBacklog, receiveBuffer_, sendBuffer_);
        } catch (const net::Error &e) {
            throw SockCtlError("cannot listen on TCP port " + std::to_string(localPort_) + ": " +
                               e.what());
        }
        loop_.watch(listener_, listenerSink_);
    }
    announcing_ = true;
    if (graceArmed_) {
        graceArmed_ = false;
        armWake();
    }
    // From the loop, not from inside the handler that calls Listen.
    if (!held_.empty() && !announcePosted_) {
        announcePosted_ = true;
        loop_.post([this, id = lifeline_.id()] {
            if (!Lifeline::alive(id))
                return;
            announcePosted_ = false;
            announceHeld();
        });
    }
}

void SockCtl::Close()
{
    stopAnnouncing();
    dropConnection();
}

void SockCtl::stopAnnouncing()
{
    announcing_ = false;
    if (listener_ == net::invalidSocket || graceArmed_)
        return;
    graceArmed_ = true;
    graceDueNs_ = loop_.nowNs() + std::int64_t{holdGraceMs} * 1000000;
    armWake();
}

// Those held behind the one served are turned away, and the port closes
// until it has gone.
void SockCtl::endGrace()
{
    graceArmed_ = false;
    // The one served may have gone while word of it waited behind this wake
    // or its next read turn; hear it first, as it decides whether those held
    // are served.
    if (!announcing_ && isConnected()) {
        if (readPaused_)
            resumeReading();
        else
            readTurn();
    }
    if (announcing_)
        return;
    closeListener();
    for (const net::Socket s : held_)
        net::reset(s);
    held_.clear();
}

void SockCtl::closeListener()
{
    if (listener_ == net::invalidSocket)
        return;
    loop_.unwatch(listener_);
    net::close(listener_);
    listener_ = net::invalidSocket;
}

void SockCtl::dropConnection()
{
    if (!isConnected())
        return;
    loop_.unwatch(conn_);
    net::closeConnection(conn_);
    conn_ = net::invalidSocket;
    writeWanted_ = false;
    readPaused_ = false;
    queue_.clear();
    taken_ = 0;
}

// Takes every connection the OS has completed, so that none is reset with
// the port when listening ends, then announces them in turn if listening.
void SockCtl::takePending()
{
    while (listener_ != net::invalidSocket) {
        const net::Socket s = net::acceptOne(listener_);
        if (s == net::invalidSocket)
            break;
        if (held_.size() >= holdLimit)
            net::reset(s);
        else
            held_.push_back(s);
    }
    announceHeld();
}

void SockCtl::announceHeld()
{
    // The handler that accepts a request ends listening, which ends this.
    while (isListening() && !held_.empty()) {
        const net::Socket s = held_.front();
        held_.pop_front();
        lastRequestID_ =
            lastRequestID_ == std::numeric_limits<std::int32_t>::max() ? 1 : lastRequestID_ + 1;
        const std::int32_t id = lastRequestID_;
        pending_[id] = s;
        events_.ConnectionRequest(id);
        // Not accepted by its handler: refuse it at once. Where the port is
        // shared, with an orderly close: a client still completing its
        // connect takes a reset for a failed attempt and tries again, for
        // ever. On Windows the close resets all the same (see acceptOne): an
        // orderly close stays active until that client closes its side, and
        // while it does the exclusive port cannot be listened on again, so
        // a Listen after the next client leaves would fail and end the
        // program; a client that tries again costs a connect each time.
        if (auto it = pending_.find(id); it != pending_.end()) {
            net::close(it->second);
            pending_.erase(it);
        }
    }
}

void SockCtl::Accept(std::int32_t &requestID)
{
    const auto it = pending_.find(requestID);
    if (it == pending_.end())
        throw SockCtlError("no pending connection request " + std::to_string(requestID));
    const net::Socket s = it->second;
    pending_.erase(it);
    stopAnnouncing();
    dropConnection();
    conn_ = s;
    applyOptions(conn_);
    // A client that vanishes without a word is noticed and let go.
    keepConnectionAlive(conn_);
    peerWindowDueNs_ = loop_.nowNs();
    nextReadNs_ = peerWindowDueNs_;
    followWindow();
    loop_.watch(conn_, connectionSink_);
    // What came while it was held, data or its end, may have been reported
    // then to nobody (Winsock reports an end once): look once anyway.
    loop_.post([this, s, id = lifeline_.id()] {
        if (Lifeline::alive(id) && conn_ == s)
            connectionReadable();
    });
}

// keepConnectionAlive's bound on unacknowledged data is lifted while the
// client keeps its window shut; this looks at most once a second, on the
// events a connection brings (every tick while sending, every read, every
// wait for room). With sending off nothing new is queued, so the window
// matters only for what the OS still holds from before.
void SockCtl::followWindow()
{
    const std::int64_t now = loop_.nowNs();
    if (now < peerWindowDueNs_)
        return;
    peerWindowDueNs_ = now + std::int64_t{peerWindowCheckMs} * 1000000;
    followPeerWindow(conn_);
}

void SockCtl::SendData(std::span<const std::uint8_t> bytes)
{
    if (!isConnected() || bytes.empty())
        return;
    followWindow();
    // What the OS took since the last tick is reported once, not per piece.
    if (taken_ > 0)
        progressDue();
    if (!writeWanted_ && queue_.empty()) {
        settle(queue_.send(conn_, bytes));
        return;
    }
    if (!queue_.push(bytes, backlogLimit_)) {
        ++skipped_;
        return;
    }
    // While the loop waits for room, it is the one to send.
    if (!writeWanted_)
        flushQueue();
}

void SockCtl::flushQueue()
{
    if (!isConnected())
        return;
    followWindow();
    settle(queue_.feed(conn_));
}

void SockCtl::settle(const SendQueue::Fed &fed)
{
    taken_ += fed.bytes;
    sentCopies_ += fed.copies;
    bool want = fed.blocked && !queue_.empty();
    if (fed.failed) {
        // The reset or close also reaches the read side, which reports it.
        queue_.clear();
        want = false;
    }
    if (want != writeWanted_) {
        writeWanted_ = want;
        loop_.wantWrite(conn_, want);
    }
    if (!fed.failed && queue_.empty() && taken_ > 0)
        progressDue();
}

void SockCtl::progressDue()
{
    if (reportPosted_)
        return;
    reportPosted_ = true;
    loop_.post([this, id = lifeline_.id()] {
        if (Lifeline::alive(id))
            reportProgress();
    });
}

void SockCtl::reportProgress()
{
    reportPosted_ = false;
    if (!isConnected() || taken_ == 0)
        return;
    const std::int64_t sent = taken_;
    taken_ = 0;
    events_.SendProgress(clampToInt32(sent), clampToInt32(queue_.bytesHeld()));
    if (queue_.empty())
        events_.SendComplete();
}

} // namespace kesmar

// The socket control's reading: a connection is read in turns, and the
// wake the loop gives the control serves both those turns and the grace
// for the connections held.

#include "SockCtl.h"

#include <string>

namespace kesmar {

// The grace and the next read turn share the one wake the loop gives us.
void SockCtl::armWake()
{
    const bool paused = readPaused_ && isConnected();
    if (!graceArmed_ && !paused) {
        if (wakeArmed_)
            loop_.cancelWake();
        wakeArmed_ = false;
        return;
    }
    const std::int64_t due = !paused       ? graceDueNs_
                             : graceArmed_ ? std::min(graceDueNs_, nextReadNs_)
                                           : nextReadNs_;
    wakeArmed_ = true;
    loop_.wakeAt(due, [this, id = lifeline_.id()] {
        if (Lifeline::alive(id))
            woken();
    });
}

void SockCtl::woken()
{
    wakeArmed_ = false;
    const std::int64_t now = loop_.nowNs();
    if (readPaused_ && now >= nextReadNs_)
        resumeReading();
    if (graceArmed_ && now >= graceDueNs_)
        endGrace();
    if (!wakeArmed_)
        armWake();
}

void SockCtl::connectionReadable()
{
    if (!isConnected() || readPaused_)
        return;
    if (loop_.nowNs() < nextReadNs_)
        pauseReading();
    else
        readTurn();
}

void SockCtl::readTurn()
{
    followWindow();
    const net::Socket s = conn_;
    if (const std::int64_t n = net::bytesReadable(s); n > 0) {
        nextReadNs_ = loop_.nowNs() + std::int64_t{readTurnUs} * 1000;
        events_.DataArrival(clampToInt32(n));
        if (conn_ != s)
            return;
        // More is waiting (or the close came with the data just read, where
        // the platform reports it once): it is looked at in the next turn.
        if (net::bytesReadable(s) > 0) {
            pauseReading();
            return;
        }
    }
    if (net::peerState(s) == net::PeerState::Open)
        return;
    // The peer closed, half-closed or reset: the connection is over.
    dropConnection();
    events_.PeerClose();
}

// Between turns the connection is not watched, so that a loop that reports
// readiness for as long as it lasts does not spin; its sends wait too.
void SockCtl::pauseReading()
{
    readPaused_ = true;
    loop_.unwatch(conn_);
    armWake();
}

void SockCtl::resumeReading()
{
    readPaused_ = false;
    if (!isConnected())
        return;
    loop_.watch(conn_, connectionSink_);
    if (writeWanted_) {
        loop_.wantWrite(conn_, true);
        // Room that came while unwatched was reported to nobody.
        flushQueue();
        if (!isConnected() || readPaused_)
            return;
    }
    readTurn();
}

void SockCtl::GetData(std::vector<std::uint8_t> &buffer, std::int32_t type, std::int32_t maxLen)
{
    if (type != byteArrayType)
        throw SockCtlError("GetData supports only byte arrays (type 8209), not type " +
                           std::to_string(type));
    buffer.clear();
    if (!isConnected() || maxLen <= 0)
        return;
    const std::int64_t n = std::min<std::int64_t>(maxLen, net::bytesReadable(conn_));
    buffer.resize(static_cast<std::size_t>(n));
    std::int64_t got = 0;
    try {
        got = net::receive(conn_, buffer.data(), n);
    } catch (const net::Error &) {
        // A broken connection: the read side reports its end.
        got = 0;
    }
    buffer.resize(static_cast<std::size_t>(got));
}

} // namespace kesmar

#include "SendQueue.h"

#include <algorithm>
#include <cstring>

namespace kesmar {

namespace {

bool sameBytes(const std::vector<std::uint8_t> *a, std::span<const std::uint8_t> b)
{
    return a && a->size() == b.size() &&
           (b.empty() || std::memcmp(a->data(), b.data(), b.size()) == 0);
}

} // namespace

bool SendQueue::push(std::span<const std::uint8_t> bytes, std::int64_t maxWaiting)
{
    if (copiesWaiting() >= std::max<std::int64_t>(maxWaiting, 1))
        return false;
    // The newest run, if any, shares last_'s bytes: one comparison serves both.
    const bool same = sameBytes(last_.get(), bytes);
    if (!same)
        last_ = std::make_shared<const std::vector<std::uint8_t>>(bytes.begin(), bytes.end());
    if (same && !runs_.empty())
        ++runs_.back().copies;
    else
        runs_.push_back({last_, 1});
    ++copies_;
    held_ += static_cast<std::int64_t>(bytes.size());
    return true;
}

SendQueue::Fed SendQueue::feed(net::Socket socket)
{
    Fed fed;
    while (!runs_.empty()) {
        Run &head = runs_.front();
        const auto size = static_cast<std::int64_t>(head.bytes->size());
        const std::int64_t piece = std::min(pieceBytes, size - offset_);
        const std::int64_t n = net::sendSome(socket, head.bytes->data() + offset_, piece);
        if (n < 0) {
            fed.failed = true;
            return fed;
        }
        offset_ += n;
        held_ -= n;
        fed.bytes += n;
        if (offset_ == size) {
            offset_ = 0;
            --copies_;
            ++fed.copies;
            if (--head.copies == 0)
                runs_.pop_front();
        }
        if (n == 0) {
            // Refused: wait for room. A short send is tried once more, as
            // Windows signals room again only after a send it refused.
            fed.blocked = true;
            return fed;
        }
    }
    return fed;
}

SendQueue::Fed SendQueue::send(net::Socket socket, std::span<const std::uint8_t> bytes)
{
    Fed fed;
    const auto size = static_cast<std::int64_t>(bytes.size());
    std::int64_t offset = 0;
    while (offset < size) {
        const std::int64_t n =
            net::sendSome(socket, bytes.data() + offset, std::min(pieceBytes, size - offset));
        if (n < 0) {
            fed.failed = true;
            return fed;
        }
        offset += n;
        fed.bytes += n;
        // As in feed(): a short send is tried once more.
        if (n == 0)
            break;
    }
    if (offset == size) {
        fed.copies = 1;
        return fed;
    }
    push(bytes, 1);
    offset_ = offset;
    held_ -= offset;
    fed.blocked = true;
    return fed;
}

void SendQueue::clear()
{
    runs_.clear();
    offset_ = 0;
    held_ = 0;
    copies_ = 0;
}

} // namespace kesmar

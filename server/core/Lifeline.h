#pragma once

#include <cstdint>

namespace kesmar {

// Whether the object that posted a call to the event loop still exists when
// the call runs. A std::weak_ptr tells that too, but a closure holding one is
// too big, or not plain enough, for std::function's own storage, so each
// post would allocate; [this, id] fits, and a call posted every tick costs
// no allocation. Ids are never reused. The loop's thread only.
class Lifeline
{
  public:
    Lifeline();
    ~Lifeline();
    Lifeline(const Lifeline &) = delete;
    Lifeline &operator=(const Lifeline &) = delete;

    std::uint64_t id() const { return id_; }
    static bool alive(std::uint64_t id);

  private:
    std::uint64_t id_;
};

} // namespace kesmar

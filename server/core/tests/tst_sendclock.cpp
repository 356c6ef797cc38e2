// The send clock's schedule on a clock that moves only when told, so every
// tick's time is exact. The wake it rides on is each real loop's, checked in
// tst_eventloop.

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "SendClock.h"
#include "SharedWake.h"
#include "TestLoops.h"

namespace {

using testing_loops::FakeLoop;

constexpr std::int64_t ms = 1'000'000;

struct Step
{
    enum Kind { On, Off, Period, Run, Stall } kind;
    std::int64_t value = 0; // milliseconds: the period, or the time to run or stall to
};

struct Schedule
{
    const char *name;
    std::vector<Step> steps;
    std::vector<std::int64_t> ticksAtMs;
    std::int64_t missed;
};

const Schedule schedules[] = {
    {"TicksAtAnchorPlusWholePeriods",
     {{Step::Run, 5}, {Step::Period, 10}, {Step::On}, {Step::Run, 42}},
     {15, 25, 35},
     0},
    {"PeriodGivenAfterSwitchingOnAnchorsThen",
     {{Step::On}, {Step::Run, 3}, {Step::Period, 10}, {Step::Run, 25}},
     {13, 23},
     0},
    {"PeriodZeroGivesNoTicks", {{Step::Period, 0}, {Step::On}, {Step::Run, 100}}, {}, 0},
    {"NegativePeriodGivesNoTicks", {{Step::Period, -5}, {Step::On}, {Step::Run, 100}}, {}, 0},
    {"OffGivesNoTicks", {{Step::Period, 10}, {Step::Run, 100}}, {}, 0},
    {"PeriodChangesWhileOffDoNotStartIt",
     {{Step::Period, 10}, {Step::Period, 20}, {Step::Run, 100}},
     {},
     0},
    {"SwitchingOffStopsAndOnAgainAnchorsAnew",
     {{Step::Period, 10},
      {Step::On},
      {Step::Run, 25},
      {Step::Off},
      {Step::Run, 47},
      {Step::On},
      {Step::Run, 70}},
     {10, 20, 57, 67},
     0},
    {"LongerPeriodKeepsTheRhythmOfTheLastTick",
     {{Step::Period, 10}, {Step::On}, {Step::Run, 23}, {Step::Period, 20}, {Step::Run, 65}},
     {10, 20, 40, 60},
     0},
    // Armed for the old period, not yet fired: the new one counts from
    // switching on, not from the long wait.
    {"ShorterPeriodBeforeTheFirstTickCountsFromSwitchingOn",
     {{Step::Period, 1000}, {Step::On}, {Step::Run, 3}, {Step::Period, 10}, {Step::Run, 25}},
     {10, 20},
     0},
    // Nothing was held up, so nothing is counted as missed.
    {"ShorterPeriodGoesOnFromTheLastTick",
     {{Step::Period, 100}, {Step::On}, {Step::Run, 130}, {Step::Period, 10}, {Step::Run, 150}},
     {100, 130, 140, 150},
     0},
    {"PeriodSetToZeroWhileTickingStops",
     {{Step::Period, 10}, {Step::On}, {Step::Run, 23}, {Step::Period, 0}, {Step::Run, 100}},
     {10, 20},
     0},
    {"LateByLessThanAPeriodKeepsTheSchedule",
     {{Step::Period, 10}, {Step::On}, {Step::Run, 10}, {Step::Stall, 25}, {Step::Run, 40}},
     {10, 25, 30, 40},
     0},
    // The late tick, then the latest one due at once; those between are
    // dropped and counted, and the schedule goes on from the anchor.
    {"StallOfMoreThanAPeriodDropsAndCounts",
     {{Step::Period, 10}, {Step::On}, {Step::Run, 10}, {Step::Stall, 55}, {Step::Run, 70}},
     {10, 55, 55, 60, 70},
     2},
    {"StallWhileOffCostsNothing",
     {{Step::Period, 10}, {Step::Stall, 500}, {Step::On}, {Step::Run, 520}},
     {510, 520},
     0},
};

// A failure names its row rather than dumping its bytes.
void PrintTo(const Schedule &s, std::ostream *os)
{
    *os << s.name;
}

class SendClockSchedule : public testing::TestWithParam<Schedule>
{
};

// Alone on the loop, and sharing its one wake-up with another user that
// wakes every 3 ms, as the socket control does with its grace: the same
// ticks either way.
TEST_P(SendClockSchedule, TicksWhereDue)
{
    const Schedule &s = GetParam();
    for (const bool shared : {false, true}) {
        SCOPED_TRACE(shared ? "sharing the wake-up" : "alone");
        FakeLoop loop;
        std::optional<kesmar::SharedWake> wakes;
        std::int64_t neighbourAt = -1;
        std::function<void()> neighbour = [&] {
            neighbourAt = loop.nowNs() / ms;
            wakes->view(1).wakeAt(loop.nowNs() + 3 * ms, neighbour);
        };
        if (shared) {
            wakes.emplace(loop);
            wakes->view(1).wakeAt(3 * ms, neighbour);
        }
        std::vector<std::int64_t> ticks;
        kesmar::SendClock clock(shared ? wakes->view(0) : loop,
                                [&] { ticks.push_back(loop.nowNs() / ms); });
        for (const Step &step : s.steps) {
            switch (step.kind) {
            case Step::On:
                clock.setEnabled(true);
                break;
            case Step::Off:
                clock.setEnabled(false);
                break;
            case Step::Period:
                clock.setInterval(static_cast<std::int32_t>(step.value));
                break;
            case Step::Run:
                loop.advanceTo(step.value * ms);
                break;
            case Step::Stall:
                loop.stallUntil(step.value * ms);
                break;
            }
        }
        EXPECT_EQ(ticks, s.ticksAtMs);
        EXPECT_EQ(clock.ticks(), static_cast<std::int64_t>(s.ticksAtMs.size()));
        EXPECT_EQ(clock.missedTicks(), s.missed);
        if (shared) {
            EXPECT_GT(neighbourAt, loop.nowNs() / ms - 3) << "the other user stopped waking";
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Schedules, SendClockSchedule, testing::ValuesIn(schedules),
                         [](const auto &info) { return std::string(info.param.name); });

// Whatever the stalls, every period's slot is either a tick or counted as
// missed, and the next tick is always due on a slot of the schedule.
TEST(SendClock, EverySlotIsTickedOrCounted)
{
    FakeLoop loop;
    kesmar::SendClock clock(loop, [] {});
    clock.setInterval(7);
    clock.setEnabled(true);
    std::int64_t t = 0;
    for (const std::int64_t stall : {3, 20, 1, 70, 6, 7, 8, 150, 2, 14}) {
        t += stall * ms;
        loop.stallUntil(t);
        t += 11 * ms;
        loop.advanceTo(t);
        EXPECT_EQ(clock.dueNs() % (7 * ms), 0) << "at " << t / ms << " ms";
        EXPECT_GT(clock.dueNs(), t);
    }
    EXPECT_EQ(clock.ticks() + clock.missedTicks(), t / (7 * ms));
    EXPECT_TRUE(loop.wakeSet());
    clock.setEnabled(false);
    EXPECT_FALSE(loop.wakeSet());
}

} // namespace

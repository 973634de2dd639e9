// The progress reading both front ends show: pace, time spent, time left.
#include "scan/CProgressMeter.h"

#include <gtest/gtest.h>

namespace {

using Clock = CProgressMeter::Clock;

Clock::time_point at(double seconds) {
    return Clock::time_point(
        std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds + 1000)));
}

} // namespace

TEST(ProgressMeter, NoTimeLeftWhileWarmingUpThenRemainingOverPace) {
    CProgressMeter meter;
    meter.start(1000'000'000, at(0));
    meter.update(50'000'000, at(1));
    auto early = meter.reading(at(1));
    EXPECT_FALSE(early.secondsLeftKnown);
    EXPECT_DOUBLE_EQ(early.bytesPerSecond, 50e6);
    EXPECT_DOUBLE_EQ(early.elapsedSeconds, 1);

    for (int s = 2; s <= 4; ++s)
        meter.update(uint64_t(s) * 50'000'000, at(s));
    auto later = meter.reading(at(4));
    ASSERT_TRUE(later.secondsLeftKnown);
    EXPECT_DOUBLE_EQ(later.bytesPerSecond, 50e6);
    EXPECT_NEAR(later.secondsLeft, 16, 1e-9); // 800 MB left at 50 MB/s
    EXPECT_DOUBLE_EQ(later.share, 0.2);
    EXPECT_EQ(later.doneBytes, 200'000'000u);
    EXPECT_EQ(later.totalBytes, 1000'000'000u);
}

TEST(ProgressMeter, OneFastStretchMovesThePaceOnlyPartWay) {
    CProgressMeter meter;
    meter.start(10'000'000'000, at(0));
    for (int s = 1; s <= 5; ++s)
        meter.update(uint64_t(s) * 10'000'000, at(s)); // 10 MB/s
    // A stretch of used clusters skipped at once: 1 GB in one second.
    meter.update(1'050'000'000, at(6));
    const double pace = meter.reading(at(6)).bytesPerSecond;
    EXPECT_GT(pace, 10e6);
    EXPECT_LT(pace, 0.5 * 1000e6);
    // Updates closer together than a sample stretch do not move the pace.
    meter.update(1'060'000'000, at(6.1));
    EXPECT_DOUBLE_EQ(meter.reading(at(6.1)).bytesPerSecond, pace);
}

TEST(ProgressMeter, EdgesOfTheReading) {
    CProgressMeter meter;
    auto idle = meter.reading(at(5));
    EXPECT_EQ(idle.elapsedSeconds, 0);
    EXPECT_FALSE(idle.secondsLeftKnown);
    EXPECT_EQ(idle.share, 0);

    meter.start(0, at(0)); // an empty volume
    meter.update(0, at(10));
    EXPECT_EQ(meter.reading(at(10)).share, 0);
    EXPECT_FALSE(meter.reading(at(10)).secondsLeftKnown); // no pace

    meter.start(100, at(0));
    meter.update(150, at(5)); // never more than all
    EXPECT_EQ(meter.reading(at(5)).share, 1);
    EXPECT_EQ(meter.reading(at(5)).secondsLeft, 0);
}

TEST(ProgressMeter, Texts) {
    const struct {
        double seconds;
        const char* text;
    } durations[] = {{0, "0:00"},    {-3, "0:00"},    {7.4, "0:07"},     {59.6, "1:00"},
                     {754, "12:34"}, {3599, "59:59"}, {3723, "1:02:03"}, {360000, "100:00:00"}};
    for (const auto& d : durations)
        EXPECT_EQ(CProgressMeter::durationText(d.seconds), d.text) << d.seconds;
    EXPECT_EQ(CProgressMeter::gigabytesText(7'948'206'080), "7.95");
    EXPECT_EQ(CProgressMeter::gigabytesText(0), "0.00");
    EXPECT_EQ(CProgressMeter::megabytesPerSecondText(85'340'000), "85.3");
}

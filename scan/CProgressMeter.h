#pragma once

#include <chrono>
#include <cstdint>
#include <string>

// What people read while a sweep runs: how much of how much is swept, the
// pace, the time spent and the time left. The pace is smoothed so that one
// slow or fast stretch does not make the time left jump about, and no time
// left is given in the first seconds, while the pace is still unknown.
// Both front ends feed it the sweep's position and show its reading.
class CProgressMeter {
public:
    using Clock = std::chrono::steady_clock;

    // No time left is given before this much time has passed.
    static constexpr double kWarmUpSeconds = 3.0;
    // The pace is measured over stretches of at least this long.
    static constexpr double kSampleSeconds = 0.5;
    // Weight of the newest stretch in the smoothed pace.
    static constexpr double kSmoothing = 0.3;

    struct tagReading {
        uint64_t doneBytes = 0;
        uint64_t totalBytes = 0;
        double share = 0;          // 0 to 1
        double elapsedSeconds = 0; // since start
        double bytesPerSecond = 0; // smoothed; 0 while unknown
        bool secondsLeftKnown = false;
        double secondsLeft = 0;
    };

    // The sweep of totalBytes begins now.
    void start(uint64_t totalBytes, Clock::time_point now = Clock::now());
    // doneBytes of the total have been swept by now.
    void update(uint64_t doneBytes, Clock::time_point now = Clock::now());
    tagReading reading(Clock::time_point now = Clock::now()) const;

    // "0:07", "12:34", "1:02:03".
    static std::string durationText(double seconds);
    // Bytes in gigabytes (10^9) with two decimals: "7.95".
    static std::string gigabytesText(uint64_t bytes);
    // Bytes per second in megabytes (10^6) per second with one decimal: "85.3".
    static std::string megabytesPerSecondText(double bytesPerSecond);

private:
    uint64_t total = 0;
    uint64_t done = 0;
    Clock::time_point started{};
    Clock::time_point sampleTime{};
    uint64_t sampleBytes = 0;
    double pace = 0; // smoothed bytes per second
    bool running = false;
};

#include "scan/CProgressMeter.h"

#include <cstdio>

namespace {

double secondsBetween(CProgressMeter::Clock::time_point from,
                      CProgressMeter::Clock::time_point to) {
    return std::chrono::duration<double>(to - from).count();
}

} // namespace

void CProgressMeter::start(uint64_t totalBytes, Clock::time_point now) {
    total = totalBytes;
    done = 0;
    started = now;
    sampleTime = now;
    sampleBytes = 0;
    pace = 0;
    running = true;
}

void CProgressMeter::update(uint64_t doneBytes, Clock::time_point now) {
    if (!running)
        start(total, now);
    done = doneBytes;
    const double stretch = secondsBetween(sampleTime, now);
    if (stretch < kSampleSeconds || doneBytes < sampleBytes)
        return;
    const double latest = double(doneBytes - sampleBytes) / stretch;
    pace = pace > 0 ? kSmoothing * latest + (1 - kSmoothing) * pace : latest;
    sampleTime = now;
    sampleBytes = doneBytes;
}

CProgressMeter::tagReading CProgressMeter::reading(Clock::time_point now) const {
    tagReading r;
    r.doneBytes = done;
    r.totalBytes = total;
    r.share = total ? double(done > total ? total : done) / double(total) : 0;
    r.elapsedSeconds = running ? secondsBetween(started, now) : 0;
    if (r.elapsedSeconds < 0)
        r.elapsedSeconds = 0;
    r.bytesPerSecond = pace;
    if (pace > 0 && r.elapsedSeconds >= kWarmUpSeconds) {
        r.secondsLeftKnown = true;
        r.secondsLeft = done < total ? double(total - done) / pace : 0;
    }
    return r;
}

std::string CProgressMeter::durationText(double seconds) {
    const long long whole = seconds > 0 ? static_cast<long long>(seconds + 0.5) : 0;
    char text[40];
    if (whole >= 3600)
        std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", whole / 3600, whole / 60 % 60,
                      whole % 60);
    else
        std::snprintf(text, sizeof text, "%lld:%02lld", whole / 60, whole % 60);
    return text;
}

std::string CProgressMeter::gigabytesText(uint64_t bytes) {
    char text[40];
    std::snprintf(text, sizeof text, "%.2f", double(bytes) / 1e9);
    return text;
}

std::string CProgressMeter::megabytesPerSecondText(double bytesPerSecond) {
    char text[40];
    std::snprintf(text, sizeof text, "%.1f", bytesPerSecond / 1e6);
    return text;
}

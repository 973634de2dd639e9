// vallora-fat-count-bench IMAGE: times the FAT32 pre-pass on IMAGE. Prints
// the seconds spent opening the volume (reading the first FAT into memory),
// counting its free clusters as the program does, and counting them again
// through one isClusterUsed call per cluster, for contrast; then the FAT's
// entries and free clusters, and the peak resident memory.
#include "volume/CFAT32VolumeAccess.h"

#include <chrono>
#include <cstdio>
#include <exception>
#include <sys/resource.h>

namespace {

double secondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// The count a volume without its own would make: one virtual call per cluster.
uint64_t countByCalls(CVolumeAccess& access) {
    return access.CVolumeAccess::countFreeClusters();
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s FAT32_IMAGE\n", argv[0]);
        return 2;
    }
    try {
        auto start = std::chrono::steady_clock::now();
        CFAT32VolumeAccess access(argv[1]);
        const double open = secondsSince(start);
        start = std::chrono::steady_clock::now();
        const uint64_t free = access.countFreeClusters();
        const double count = secondsSince(start);
        start = std::chrono::steady_clock::now();
        const uint64_t called = countByCalls(access);
        const double calls = secondsSince(start);
        rusage usage{};
        getrusage(RUSAGE_SELF, &usage);
        std::printf(
            "\nopen %.3f s, count %.3f s, count by calls %.3f s, entries %llu, free %llu%s, "
            "peak RSS %ld KiB\n",
            open, count, calls, static_cast<unsigned long long>(access.getClusterCount()),
            static_cast<unsigned long long>(free), called == free ? "" : " (MISMATCH)",
            usage.ru_maxrss);
        return called == free ? 0 : 1;
    } catch (const std::exception& failure) {
        std::fprintf(stderr, "%s\n", failure.what());
        return 1;
    }
}

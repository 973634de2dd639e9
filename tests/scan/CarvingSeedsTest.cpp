// Replays the carving fuzz target's seeds and kept crash inputs.
#include "CCarvingFuzzEntry.h"
#include "CTempDir.h"

#include <gtest/gtest.h>

#include <filesystem>

TEST(CarvingSeeds, EverySeedSweepsCleanly) {
    size_t seeds = 0;
    for (const auto& entry : std::filesystem::directory_iterator(VALLORA_CARVING_CORPUS)) {
        const auto bytes = CTempDir::readFile(entry.path().string());
        CCarvingFuzzEntry::run(bytes.data(), bytes.size());
        ++seeds;
    }
    EXPECT_GE(seeds, 3u);
}

#include "CMemoryDevice.h"
#include "CTempDir.h"
#include "CVolumeFuzzEntry.h"
#include "volume/CVolumeAccess.h"
#include "volume/CVolumeOpener.h"

#include <gtest/gtest.h>

#include <filesystem>

// Replays the seed corpora of the exFAT, FAT12/16 and ext fuzz targets, and
// the inputs that once made them fail, through the entry the fuzzers use.
// Run under the sanitizers (VALLORA_SANITIZE) this checks every input as
// the fuzzer would. The seeds made by the file-system tools (named mkfs-*
// and mke2fs-*) must also open as what they are.

namespace {

struct tagCorpus {
    const char* folder;
    CVolumeOpener::Kind kind;
};

void PrintTo(const tagCorpus& c, std::ostream* os) {
    *os << c.folder;
}

class VolumeFuzzCorpus : public ::testing::TestWithParam<tagCorpus> {};

TEST_P(VolumeFuzzCorpus, EveryInputRunsCleanlyAndEveryToolSeedOpens) {
    const std::filesystem::path corpus =
        std::filesystem::path(VALLORA_FUZZ_CORPORA) / GetParam().folder;
    ASSERT_TRUE(std::filesystem::is_directory(corpus)) << corpus;
    size_t toolSeeds = 0;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(corpus)) {
        if (!entry.is_regular_file())
            continue;
        SCOPED_TRACE(entry.path().string());
        const std::vector<unsigned char> bytes = CTempDir::readFile(entry.path().string());
        ::testing::internal::CaptureStdout();
        CVolumeFuzzEntry::run(GetParam().kind, bytes.data(), bytes.size());
        const std::string name = entry.path().filename().string();
        if (name.rfind("mkfs-", 0) == 0 || name.rfind("mke2fs-", 0) == 0) {
            auto device =
                std::make_shared<CMemoryDevice>(bytes, 512, CVolumeFuzzEntry::kDeviceBytes);
            auto access = CVolumeOpener::build(GetParam().kind, device);
            tagVolumeGeometry g = CVolumeOpener::geometry(GetParam().kind, *access);
            EXPECT_GT(g.freeClusters, 0u);
            EXPECT_LT(g.freeClusters, g.clusterCount);
            ++toolSeeds;
        }
        ::testing::internal::GetCapturedStdout();
    }
    EXPECT_GE(toolSeeds, 3u);
}

INSTANTIATE_TEST_SUITE_P(Targets, VolumeFuzzCorpus,
                         ::testing::Values(tagCorpus{"exfat_volume", CVolumeOpener::Kind::ExFat},
                                           tagCorpus{"fat_volume", CVolumeOpener::Kind::Fat},
                                           tagCorpus{"fat32_volume", CVolumeOpener::Kind::Fat32},
                                           tagCorpus{"ext_volume", CVolumeOpener::Kind::Ext}),
                         [](const auto& test) { return std::string(test.param.folder); });

} // namespace

#include "CNTFSFuzzEntry.h"
#include "CNtfsTestImage.h"
#include "CTempDir.h"
#include "ntfs/CAttrBase.h"
#include "ntfs/CFileRecord.h"
#include "ntfs/CNTFSVolume.h"
#include "volume/CNTFSAccessBuilder.h"
#include "volume/CNTFSVolumeAccess.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

// Replays the NTFS fuzz target's seed corpus, and the inputs that once made
// it fail, through the same entry the fuzzer uses. Run under the sanitizers
// (VALLORA_SANITIZE) this checks every input as the fuzzer would.
TEST(NtfsFuzzCorpus, EveryInputRunsCleanly) {
    const std::filesystem::path corpus = VALLORA_NTFS_CORPUS;
    ASSERT_TRUE(std::filesystem::is_directory(corpus)) << corpus;
    size_t inputs = 0;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(corpus)) {
        if (!entry.is_regular_file())
            continue;
        SCOPED_TRACE(entry.path().string());
        const std::vector<unsigned char> bytes = CTempDir::readFile(entry.path().string());
        CNTFSFuzzEntry::run(bytes.data(), bytes.size());
        ++inputs;
    }
    EXPECT_GE(inputs, 4u);
}

// A volume made with the test image builder that holds what mkntfs never
// writes: an attribute list in record 0 pulling its $DATA from record 20,
// sparse and fragmented runs in $Bitmap, index and name attributes. Run
// with VALLORA_NTFS_SEED=<file> it also writes the image there, which is
// how the corpus file synthetic-attribute-list was made.
TEST(NtfsFuzzCorpus, SyntheticVolumeRunsCleanly) {
    using Record = CNtfsTestImage::CRecord;
    CNtfsTestImage image = CNtfsTestImage::standardVolume(64);
    std::vector<uint8_t> list(64);
    list[0] = 0x80;
    list[4] = 32;
    list[7] = 0x1A;
    list[0x10] = 20;
    list[32] = 0x10;
    list[36] = 32;
    list[39] = 0x1A;
    image.putRecord(0, Record().standardInformation().resident(0x20, list));
    image.putRecord(20, Record().nonResident(0x80, {0x11, 0x08, 0x04}, 7, 8 * 4096));
    image.putRecord(6, Record()
                           .standardInformation()
                           .resident(0x60, {'v', 0, 0xE9, 0})
                           .nonResident(0x80, {0x01, 0x01, 0x11, 0x01, 0x15}, 1, 16)
                           .resident(0x90, std::vector<uint8_t>(0x40))
                           .nonResident(0xB0, {0x11, 0x01, 0x16}, 0, 8));
    const char* path = std::getenv("VALLORA_NTFS_SEED");
    if (path)
        CTempDir::writeFile(path, image.bytes);
    CNTFSFuzzEntry::run(image.bytes.data(), image.bytes.size());

    CNTFSVolume volume(image.device());
    ASSERT_TRUE(volume.IsReady());
    ASSERT_NE(volume.MftData(), nullptr); // pulled in through the list
    EXPECT_EQ(volume.MftData()->DataSize(), 8u * 4096);
    CFileRecord bitmap(&volume);
    ASSERT_TRUE(bitmap.ReadRecord(6));
    ASSERT_TRUE(bitmap.LoadAttributes());
    EXPECT_EQ(bitmap.Attributes(0xB0).Count(), 1u);
    CNTFSAccessBuilder builder(image.device());
    EXPECT_EQ(builder.build()->getClusterCount(), 64u);
    EXPECT_EQ(builder.freeClusters(), 64u); // the first 16 bitmap bytes are sparse
}

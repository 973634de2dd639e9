// The records of deleted files that still list their data: which ones the
// MFT walk gives, with which runs, and which the NTFS access offers (only
// runs over free clusters of the volume). Hostile records are passed over.
#include "CNtfsTestImage.h"

#include "ntfs/CDeletedDataFinder.h"
#include "ntfs/CNTFSVolume.h"
#include "volume/CNTFSAccessBuilder.h"
#include "volume/CNTFSVolumeAccess.h"

#include <gtest/gtest.h>

using Image = CNtfsTestImage;
using Record = CNtfsTestImage::CRecord;
using Runs = std::vector<std::pair<uint64_t, uint64_t>>; // (lcn, clusters)

namespace {

constexpr uint64_t kRecord = 20;

Record deleted(Record record) {
    record.headerFlags = 0;
    return record;
}

// The deleted data the walk gives for a volume whose record kRecord is put
// by the test.
std::vector<tagDeletedData> walk(const Image& image) {
    CNTFSVolume volume(image.device());
    EXPECT_TRUE(volume.IsReady());
    std::vector<tagDeletedData> found;
    EXPECT_TRUE(CDeletedDataFinder(volume).forEach([&](const tagDeletedData& data) {
        found.push_back(data);
        return true;
    }));
    return found;
}

Runs runsOf(const tagDeletedData& data) {
    Runs runs;
    for (const tagDataRun_Entry& run : data.runs)
        runs.emplace_back(uint64_t(run.lcn), run.clusters);
    return runs;
}

struct tagRecordCase {
    const char* name;
    Record record;
    bool listed;
    Runs runs = {};
};

} // namespace

TEST(NTFSDeletedData, ListsTheRunsOfDeletedRecordsOnly) {
    // Two clusters at 40, then one at 30 (out of order), 10000 bytes.
    const std::vector<uint8_t> outOfOrder = {0x11, 0x02, 0x28, 0x11, 0x01, 0xF6};
    std::vector<uint8_t> truncated(24, 0xFF);
    truncated[0] = 0x88;
    const tagRecordCase cases[] = {
        {"deleted, pieces out of order",
         deleted(Record().standardInformation().nonResident(0x80, outOfOrder, 2, 10000)),
         true,
         {{40, 2}, {30, 1}}},
        {"clusters past the data are not its bytes",
         deleted(Record().nonResident(0x80, {0x11, 0x02, 0x28, 0x11, 0x01, 0xF6}, 2, 8000)),
         true,
         {{40, 2}}},
        {"in use", Record().nonResident(0x80, outOfOrder, 2, 10000), false},
        {"resident data", deleted(Record().resident(0x80, {0xFF, 0xD8, 0xFF})), false},
        {"named data only", deleted(Record().nonResident(0x80, outOfOrder, 2, 10000, u"s")), false},
        {"a sparse run",
         deleted(Record().nonResident(0x80, {0x11, 0x01, 0x28, 0x01, 0x02}, 2, 10000)), false},
        {"runs shorter than the data", deleted(Record().nonResident(0x80, outOfOrder, 2, 20000)),
         false},
        {"not starting at VCN 0", deleted(Record().nonResident(0x80, outOfOrder, 3, 10000, u"", 1)),
         false},
        {"empty", deleted(Record().nonResident(0x80, {}, ~0ull, 0)), false},
        {"runs cut off by the attribute's end",
         deleted(Record().nonResident(0x80, truncated, 2, 10000)), false},
        {"a cluster before the volume",
         deleted(Record().nonResident(0x80, {0x11, 0x01, 0x80}, 0, 100)), false},
        {"a count past the last VCN",
         deleted(Record().nonResident(
             0x80, {0x81, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x3F, 0x01}, 2, 10000)),
         false},
    };
    for (const tagRecordCase& c : cases) {
        SCOPED_TRACE(c.name);
        Image image = Image::standardVolume();
        image.putRecord(kRecord, c.record);
        const std::vector<tagDeletedData> found = walk(image);
        ASSERT_EQ(found.size(), c.listed ? 1u : 0u);
        if (c.listed) {
            EXPECT_EQ(found[0].record, kRecord);
            EXPECT_EQ(runsOf(found[0]), c.runs);
        }
    }
}

TEST(NTFSDeletedData, PassesOverDamagedRecords) {
    Image image = Image::standardVolume();
    const Record good = deleted(Record().nonResident(0x80, {0x11, 0x02, 0x28}, 1, 5000));
    image.putRecord(kRecord, good);
    image.putRecord(kRecord + 1, good);
    image.putRecord(kRecord + 2, good);
    // A wrong update sequence value at the end of the first stride, and an
    // update sequence offset past the record.
    const uint64_t at = image.mftOffset() + (kRecord + 1) * image.recordSize();
    image.putBytes(at + 510, {0x00, 0x00});
    image.putBytes(image.mftOffset() + (kRecord + 2) * image.recordSize() + 4, {0xF0, 0x03});
    const std::vector<tagDeletedData> found = walk(image);
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].record, kRecord);
}

TEST(NTFSDeletedData, TheAccessOffersOnlyRunsOverFreeSweptClusters) {
    struct tagCase {
        const char* name;
        std::vector<uint8_t> runs; // 3 clusters, 10000 bytes
        uint32_t usedCluster;      // marked in use (0: none beyond the metadata)
        bool offered;
    } cases[] = {
        {"free", {0x11, 0x02, 0x28, 0x11, 0x01, 0xF6}, 0, true},
        {"one cluster in use again", {0x11, 0x02, 0x28, 0x11, 0x01, 0xF6}, 41, false},
        {"past the volume's clusters", {0x11, 0x02, 0x28, 0x11, 0x01, 0x30}, 0, false},
    };
    for (const tagCase& c : cases) {
        SCOPED_TRACE(c.name);
        Image image = Image::standardVolume();
        image.putRecord(kRecord, deleted(Record().nonResident(0x80, c.runs, 2, 10000)));
        if (c.usedCluster)
            image.setClusterUsed(c.usedCluster);
        auto access = CNTFSAccessBuilder(image.device()).build();
        std::vector<tagListedFile> offered;
        access->forEachListedDeletedFile([&](const tagListedFile& file) {
            offered.push_back(file);
            return true;
        });
        ASSERT_EQ(offered.size(), c.offered ? 1u : 0u);
        if (c.offered) {
            EXPECT_EQ(offered[0].length, 10000u);
            EXPECT_EQ(offered[0].runs, (Runs{{40, 2}, {30, 1}}));
        }
    }
}

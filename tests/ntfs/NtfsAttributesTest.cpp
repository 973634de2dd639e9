#include "CNtfsTestImage.h"

#include "ntfs/CAttrNonResident.h"
#include "ntfs/CAttrResident.h"
#include "ntfs/CAttr_Bitmap.h"
#include "ntfs/CAttr_FileName.h"
#include "ntfs/CAttr_IndexAlloc.h"
#include "ntfs/CAttr_IndexRoot.h"
#include "ntfs/CAttr_VolName.h"
#include "ntfs/CFileRecord.h"
#include "ntfs/CNTFSVolume.h"
#include "ntfs/CSList.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

using Image = CNtfsTestImage;
using Record = CNtfsTestImage::CRecord;

namespace {

struct tagCounted {
    explicit tagCounted(int& counter) : alive(counter) { ++alive; }
    ~tagCounted() { --alive; }
    int& alive;
};

// The byte the test volume holds at a device offset, beyond its metadata.
uint8_t pattern(uint64_t offset) {
    return static_cast<uint8_t>(offset * 7 + offset / 4096);
}

// A standard volume whose record 20 holds the given attributes, and whose
// clusters from 24 on hold pattern bytes.
class NTFSAttribute : public ::testing::Test {
protected:
    Image image = Image::standardVolume(128);
    std::shared_ptr<CMemoryDevice> device;
    std::unique_ptr<CNTFSVolume> volume;
    std::unique_ptr<CFileRecord> record;

    CFileRecord& load(const Record& attributes) {
        for (uint64_t at = 24 * 4096; at < image.bytes.size(); ++at)
            image.bytes[at] = pattern(at);
        image.putRecord(20, attributes);
        device = image.device();
        volume = std::make_unique<CNTFSVolume>(device);
        EXPECT_TRUE(volume->IsReady());
        record = std::make_unique<CFileRecord>(volume.get());
        EXPECT_TRUE(record->ReadRecord(20));
        EXPECT_TRUE(record->LoadAttributes());
        device->reads.clear();
        return *record;
    }

    CAttrNonResident* data(const std::vector<uint8_t>& runs, uint64_t lastVcn, uint64_t size) {
        load(Record().nonResident(0x80, runs, lastVcn, size));
        return dynamic_cast<CAttrNonResident*>(record->FirstUnnamedData());
    }
};

} // namespace

TEST(NTFSList, OwnsIteratesAndMovesItsItems) {
    int alive = 0;
    {
        CSList<tagCounted> a, b;
        EXPECT_EQ(a.First(), nullptr);
        EXPECT_EQ(a.Next(), nullptr);
        tagCounted* first = new tagCounted(alive);
        tagCounted* second = new tagCounted(alive);
        ASSERT_TRUE(a.Append(first));
        ASSERT_TRUE(a.Append(second));
        ASSERT_TRUE(b.Append(new tagCounted(alive)));
        EXPECT_EQ(a.First(), first);
        EXPECT_EQ(a.Next(), second);
        EXPECT_EQ(a.Next(), nullptr);
        b.TakeAll(a); // a's items go to the end of b; none is deleted
        EXPECT_EQ(a.Count(), 0u);
        EXPECT_EQ(a.First(), nullptr);
        EXPECT_EQ(b.Count(), 3u);
        EXPECT_EQ(alive, 3);
        b.First();
        EXPECT_EQ(b.Next(), first);
        EXPECT_EQ(b.Next(), second);
        a.Append(new tagCounted(alive));
        a.Clear();
        EXPECT_EQ(alive, 3);
    }
    EXPECT_EQ(alive, 0);
}

TEST_F(NTFSAttribute, DecodesDataRuns) {
    struct Run {
        int64_t lcn;
        uint64_t clusters, startVcn;
    };
    struct Case {
        const char* what;
        std::vector<uint8_t> runs;
        uint64_t lastVcn;
        std::vector<Run> expected;
        bool valid;
    } cases[] = {
        {"one run of 24 at 308", {0x21, 0x18, 0x34, 0x01}, 23, {{308, 24, 0}}, true},
        {"a delta of -1",
         {0x21, 0x18, 0x34, 0x01, 0x11, 0x04, 0xFF},
         27,
         {{308, 24, 0}, {307, 4, 24}},
         true},
        {"a sparse run", {0x01, 0x04, 0x11, 0x02, 0x10}, 5, {{-1, 4, 0}, {16, 2, 4}}, true},
        {"no runs", {}, ~0ull, {}, true},
        {"count of 9 bytes ends the runs",
         {0x11, 0x02, 0x10, 0x19, 1, 2, 3},
         5,
         {{16, 2, 0}},
         true},
        {"count with bit 63 ends the runs",
         {0x11, 0x02, 0x10, 0x08, 0, 0, 0, 0, 0, 0, 0, 0x80},
         5,
         {{16, 2, 0}},
         true},
        {"LCN below 0", {0x11, 0x02, 0x10, 0x11, 0x02, 0xE0}, 5, {{16, 2, 0}}, false},
        {"run past the VCN range", {0x11, 0x02, 0x10, 0x11, 0x08, 0x10}, 5, {}, false},
        {"count of 0", {0x11, 0x02, 0x10, 0x10, 0x05}, 5, {{16, 2, 0}}, false},
    };
    for (Case& c : cases) {
        SCOPED_TRACE(c.what);
        CAttrNonResident* attribute = data(c.runs, c.lastVcn, 0);
        ASSERT_NE(attribute, nullptr);
        EXPECT_EQ(attribute->IsDataValid(), c.valid);
        CSList<tagDataRun_Entry>& runs = attribute->Runs();
        ASSERT_EQ(runs.Count(), c.expected.size());
        tagDataRun_Entry* run = runs.First();
        for (const Run& e : c.expected) {
            EXPECT_EQ(run->lcn, e.lcn);
            EXPECT_EQ(run->clusters, e.clusters);
            EXPECT_EQ(run->startVcn, e.startVcn);
            EXPECT_EQ(run->lastVcn, e.startVcn + e.clusters - 1);
            run = runs.Next();
        }
    }
}

TEST_F(NTFSAttribute, MappingPairsEndAtTheAttributeEnd) {
    // 8 bytes of mapping pairs with no terminating 0: the third run is cut.
    std::vector<uint8_t> a(0x48, 0);
    a[0] = 0x80;
    a[4] = 0x48;
    a[8] = 1;
    a[0x18] = 9; // last VCN
    a[0x20] = 0x40;
    const uint8_t runs[] = {0x11, 0x01, 0x20, 0x11, 0x01, 0x01, 0x11, 0x01};
    std::memcpy(a.data() + 0x40, runs, sizeof runs);
    load(Record().raw(a));
    auto* attribute = dynamic_cast<CAttrNonResident*>(record->FirstUnnamedData());
    ASSERT_NE(attribute, nullptr);
    EXPECT_FALSE(attribute->IsDataValid());
    EXPECT_EQ(attribute->Runs().Count(), 2u);

    // Mapping pairs offset at the very end of the attribute: nothing to read.
    a[0x20] = 0x48;
    load(Record().raw(a));
    attribute = dynamic_cast<CAttrNonResident*>(record->FirstUnnamedData());
    ASSERT_NE(attribute, nullptr);
    EXPECT_FALSE(attribute->IsDataValid());
    EXPECT_EQ(attribute->Runs().Count(), 0u);
}

TEST_F(NTFSAttribute, ReadsWholeClustersStraightAndPartialOnesThroughOneBuffer) {
    CAttrNonResident* attribute = data({0x11, 0x14, 0x1E}, 19, 20 * 4096); // 20 at LCN 30
    ASSERT_NE(attribute, nullptr);
    std::vector<uint8_t> buffer(65536);
    uint32_t got = 0;
    ASSERT_TRUE(attribute->ReadAt(100, buffer.data(), 65536, got));
    EXPECT_EQ(got, 65536u);
    for (uint32_t i = 0; i < got; ++i)
        ASSERT_EQ(buffer[i], pattern(30 * 4096 + 100 + i)) << i;
    ASSERT_EQ(device->reads.size(), 3u);
    EXPECT_EQ(device->reads[0].offset, 30u * 4096); // head: cluster 0
    EXPECT_EQ(device->reads[0].length, 4096u);
    EXPECT_EQ(device->reads[1].offset, 31u * 4096); // clusters 1 to 15 at once
    EXPECT_EQ(device->reads[1].length, 15u * 4096);
    EXPECT_EQ(device->reads[2].offset, 46u * 4096); // tail: 100 bytes of cluster 16
    EXPECT_EQ(device->reads[2].length, 4096u);
}

TEST_F(NTFSAttribute, ReadsSparseRunsAsZerosWithoutTheDevice) {
    // 4 sparse clusters, then 2 at LCN 30.
    CAttrNonResident* attribute = data({0x01, 0x04, 0x11, 0x02, 0x1E}, 5, 6 * 4096);
    std::vector<uint8_t> buffer(3 * 4096, 0xEE);
    uint32_t got = 0;
    ASSERT_TRUE(attribute->ReadAt(2048, buffer.data(), 2 * 4096, got));
    EXPECT_EQ(got, 2u * 4096);
    EXPECT_TRUE(
        std::all_of(buffer.begin(), buffer.begin() + 2 * 4096, [](uint8_t b) { return b == 0; }));
    EXPECT_TRUE(device->reads.empty());
    // Across the end of the sparse run into real clusters.
    ASSERT_TRUE(attribute->ReadAt(4 * 4096 - 10, buffer.data(), 20, got));
    EXPECT_EQ(buffer[9], 0);
    EXPECT_EQ(buffer[10], pattern(30 * 4096));
}

TEST_F(NTFSAttribute, ClipsReadsToTheData) {
    CAttrNonResident* attribute = data({0x11, 0x02, 0x1E}, 1, 5000);
    std::vector<uint8_t> buffer(8192);
    uint32_t got = 0;
    ASSERT_TRUE(attribute->ReadAt(0, buffer.data(), 8192, got));
    EXPECT_EQ(got, 5000u);
    EXPECT_EQ(buffer[4999], pattern(30 * 4096 + 4999));
    EXPECT_TRUE(attribute->ReadAt(5000, buffer.data(), 10, got));
    EXPECT_EQ(got, 0u);
    EXPECT_FALSE(attribute->ReadAt(5001, buffer.data(), 10, got));
    EXPECT_EQ(got, 0u);
    EXPECT_TRUE(attribute->ReadAt(1, buffer.data(), 0, got));
    // The end of the data inside a cluster that no run covers.
    attribute = data({0x11, 0x01, 0x1E}, 1, 5000);
    EXPECT_TRUE(attribute->ReadAt(5000, buffer.data(), 10, got));
    EXPECT_EQ(got, 0u);
    EXPECT_FALSE(attribute->ReadAt(4999, buffer.data(), 10, got));

    struct Case {
        const char* what;
        std::vector<uint8_t> runs;
        uint64_t lastVcn, size, offset;
        bool read;
        uint32_t got;
    } cases[] = {
        {"no runs, no data", {}, ~0ull, 0, 0, true, 0},
        {"no runs, claimed data", {}, 0, 4096, 0, false, 0},
        {"a gap in the runs", {0x11, 0x02, 0x1E}, 3, 4 * 4096, 2 * 4096, false, 0},
        {"clusters past the device", {0x21, 0x02, 0x00, 0x10}, 1, 8192, 0, false, 0},
        {"data past the VCN range", {0x11, 0x02, 0x1E}, 1, 10 * 4096, 3 * 4096, false, 0},
    };
    for (Case& c : cases) {
        SCOPED_TRACE(c.what);
        CAttrNonResident* a = data(c.runs, c.lastVcn, c.size);
        ASSERT_NE(a, nullptr);
        EXPECT_EQ(a->ReadAt(c.offset, buffer.data(), 4096, got), c.read);
        EXPECT_EQ(got, c.got);
    }
}

TEST_F(NTFSAttribute, ReadsResidentValues) {
    std::vector<uint8_t> value(64);
    for (size_t i = 0; i < value.size(); ++i)
        value[i] = static_cast<uint8_t>(i);
    load(Record().resident(0x80, value));
    CAttrBase* attribute = record->FirstUnnamedData();
    ASSERT_NE(dynamic_cast<CAttrResident*>(attribute), nullptr);
    uint64_t allocated = 0;
    EXPECT_EQ(attribute->DataSize(&allocated), 64u);
    EXPECT_EQ(allocated, 64u);
    uint8_t buffer[100] = {};
    uint32_t got = 0;
    ASSERT_TRUE(attribute->ReadAt(40, buffer, 100, got));
    EXPECT_EQ(got, 24u);
    EXPECT_EQ(buffer[0], 40);
    EXPECT_EQ(buffer[23], 63);
    EXPECT_FALSE(attribute->ReadAt(64, buffer, 1, got));
    EXPECT_EQ(got, 0u);
    EXPECT_TRUE(attribute->ReadAt(64, buffer, 0, got));
}

TEST_F(NTFSAttribute, TypedAttributesReadTheirValues) {
    const std::vector<uint8_t> label = {'D', 0, 'i', 0, 0xE9, 0, 's', 0};
    std::vector<uint8_t> fileName(0x42 + 6);
    fileName[0x40] = 3;
    const char name[] = {'a', 0, 'b', 0, 'z', 0};
    std::memcpy(fileName.data() + 0x42, name, 6);
    // An index root with one $FILE_NAME entry and a last entry.
    std::vector<uint8_t> root(0x20 + 0x10 + 0x50 + 0x10);
    root[0] = 0x30;
    root[0x10] = 0x10;            // entries start at 0x20
    root[0x14] = 0x70;            // index length
    root[0x20 + 0x08] = 0x60;     // entry length
    root[0x20 + 0x0A] = 0x48;     // key length
    root[0x20 + 0x10 + 0x40] = 1; // name of one character
    root[0x20 + 0x10 + 0x42] = 'q';
    root[0x80 + 0x08] = 0x10;
    root[0x80 + 0x0C] = 0x02; // last entry
    CFileRecord& r = load(Record()
                              .resident(0x30, fileName)
                              .resident(0x60, label)
                              .resident(0x90, root)
                              .nonResident(0xA0, {0x11, 0x02, 0x1E}, 1, 8192)
                              .resident(0xB0, {0x0F, 0xF0, 0x01})
                              .nonResident(0xB0, {0x11, 0x01, 0x1E}, 0, 4096));
    auto* fn = dynamic_cast<CAttr_FileName*>(r.Attributes(0x30).First());
    ASSERT_NE(fn, nullptr);
    EXPECT_EQ(fn->UpperName(), u"ABZ");
    auto* vn = dynamic_cast<CAttr_VolName*>(r.Attributes(0x60).First());
    ASSERT_NE(vn, nullptr);
    EXPECT_EQ(vn->NameLength(), 4u);
    EXPECT_EQ(vn->WideName(), u"Di\u00e9s");
    EXPECT_EQ(vn->AnsiName(), "Di?s");
    auto* ir = dynamic_cast<CAttr_IndexRoot*>(r.Attributes(0x90).First());
    ASSERT_NE(ir, nullptr);
    ASSERT_EQ(ir->Count(), 2u);
    EXPECT_EQ(ir->First()->UpperName(), u"Q");
    EXPECT_EQ(ir->Next()->UpperLength(), 0u);
    auto* ia = dynamic_cast<CAttr_IndexAlloc*>(r.Attributes(0xA0).First());
    ASSERT_NE(ia, nullptr);
    EXPECT_EQ(ia->BlockCount(), 2u);
    CSList<CAttrBase>& bitmaps = r.Attributes(0xB0);
    auto* rb = dynamic_cast<CAttr_Bitmap<CAttrResident>*>(bitmaps.First());
    ASSERT_NE(rb, nullptr);
    EXPECT_EQ(rb->BitmapSize(), 3u);
    EXPECT_EQ(rb->BitmapBuffer()[1], 0xF0);
    auto* nb = dynamic_cast<CAttr_Bitmap<CAttrNonResident>*>(bitmaps.Next());
    ASSERT_NE(nb, nullptr);
    EXPECT_EQ(nb->BitmapSize(), 4096u);
    EXPECT_NE(nb->BitmapBuffer(), nullptr);
}

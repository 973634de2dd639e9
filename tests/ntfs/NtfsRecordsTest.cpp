#include "CNtfsTestImage.h"

#include "ntfs/CAttrBase.h"
#include "ntfs/CAttrResident.h"
#include "ntfs/CAttr_AttrList.h"
#include "ntfs/CAttr_FileName.h"
#include "ntfs/CFileRecord.h"
#include "ntfs/CNTFSVolume.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

using Image = CNtfsTestImage;
using Record = CNtfsTestImage::CRecord;

namespace {

std::vector<uint8_t> text(const std::string& s) {
    return std::vector<uint8_t>(s.begin(), s.end());
}

// The value of a resident attribute as text.
std::string valueOf(CAttrBase* attribute) {
    if (!attribute)
        return "<none>";
    std::string out(attribute->DataSize(), '\0');
    uint32_t got = 0;
    attribute->ReadAt(0, out.data(), static_cast<uint32_t>(out.size()), got);
    out.resize(got);
    return out;
}

// One 32-byte attribute list entry.
std::vector<uint8_t> listEntry(uint32_t type, uint64_t record, uint16_t length = 32) {
    std::vector<uint8_t> e(32);
    for (int i = 0; i < 4; ++i)
        e[i] = (type >> (8 * i)) & 0xFF;
    e[4] = length & 0xFF;
    e[5] = length >> 8;
    e[7] = 0x1A;
    for (int i = 0; i < 6; ++i)
        e[0x10 + i] = (record >> (8 * i)) & 0xFF;
    return e;
}

std::vector<uint8_t> concat(std::initializer_list<std::vector<uint8_t>> parts) {
    std::vector<uint8_t> out;
    for (const auto& p : parts)
        out.insert(out.end(), p.begin(), p.end());
    return out;
}

class NTFSRecord : public ::testing::Test {
protected:
    Image image = Image::standardVolume();
    std::unique_ptr<CNTFSVolume> volume;
    CNTFSVolume& open() {
        volume = std::make_unique<CNTFSVolume>(image.device());
        EXPECT_TRUE(volume->IsReady());
        return *volume;
    }
};

} // namespace

TEST_F(NTFSRecord, UndoesTheUpdateSequenceOfEveryStride) {
    // A value byte pair that lands on offset 510, where the update sequence
    // number is stored on disk; offset 1022 gets its value from the array.
    std::vector<uint8_t> value(600, 0);
    value[510 - 0x50] = 0x51;
    value[511 - 0x50] = 0x52;
    image.putRecord(20, Record().resident(0x80, value));
    const uint64_t at = image.mftOffset() + 20 * 1024;
    ASSERT_EQ(image.bytes[at + 510], Image::kUsn & 0xFF);
    ASSERT_EQ(image.bytes[at + 1022], Image::kUsn & 0xFF);
    image.bytes[at + 0x34] = 0x61; // replacement value of the second stride
    image.bytes[at + 0x35] = 0x62;
    CFileRecord record(&open());
    ASSERT_TRUE(record.ReadRecord(20));
    EXPECT_EQ(record.Image()[510], 0x51);
    EXPECT_EQ(record.Image()[511], 0x52);
    EXPECT_EQ(record.Image()[1022], 0x61);
    EXPECT_EQ(record.Image()[1023], 0x62);
    EXPECT_EQ(record.RecordNumber(), 20u);
}

TEST(NTFSRecordStrides, UndoTheUpdateSequenceEvery512BytesOnLargeSectors) {
    // 4096-byte sectors and records: the update sequence still protects
    // every 512 bytes, so offsets 510, 1022, ... 4094 are all restored.
    CNtfsTestImage::tagGeometry g;
    g.bytesPerSector = 4096;
    g.sectorsPerCluster = 1;
    g.clustersPerRecord = 1;
    g.totalSectors = 64;
    Image image(g);
    std::vector<uint8_t> value(4096 - 0x60 - 0x18 - 16, 0);
    for (uint32_t end = 510; end < 4096 - 0x60; end += 512) {
        value[end - 0x60] = static_cast<uint8_t>(end / 512);
        value[end - 0x60 + 1] = 0x77;
    }
    image.putRecord(20, Record().resident(0x80, value));
    CNTFSVolume volume(image.device());
    ASSERT_TRUE(volume.IsOpen());
    ASSERT_EQ(volume.FileRecordSize(), 4096u);
    CFileRecord record(&volume);
    ASSERT_TRUE(record.ReadRecord(20));
    for (uint32_t end = 510; end < 4096 - 0x60; end += 512) {
        EXPECT_EQ(record.Image()[end], end / 512) << end;
        EXPECT_EQ(record.Image()[end + 1], 0x77) << end;
    }
}

TEST_F(NTFSRecord, RefusesTornOrForeignRecords) {
    image.putRecord(20, Record().resident(0x80, text("x")));
    image.bytes[image.mftOffset() + 20 * 1024 + 1022] ^= 0xFF; // second stride torn
    image.putRecord(21, Record().resident(0x80, text("x")));
    std::memcpy(image.bytes.data() + image.mftOffset() + 21 * 1024, "BAAD", 4);
    Record badUsa;
    badUsa.usaOffset = 0x30;
    image.putRecord(22, badUsa);
    // The update sequence array placed where it would run past the record.
    image.bytes[image.mftOffset() + 22 * 1024 + 4] = 0xFC;
    image.bytes[image.mftOffset() + 22 * 1024 + 5] = 0x03;

    CFileRecord record(&open());
    for (uint64_t n : {20, 21, 22}) {
        SCOPED_TRACE(n);
        EXPECT_FALSE(record.ReadRecord(n));
        EXPECT_EQ(record.RecordNumber(), n); // fetched, then refused
        EXPECT_EQ(record.Image(), nullptr);
        EXPECT_EQ(record.LastFailure(), CFileRecord::Failure::Corrupt);
        EXPECT_FALSE(record.LoadAttributes());
    }
    // A record past the end of the MFT data cannot be fetched at all: a read
    // error, not a corrupt record.
    EXPECT_FALSE(record.ReadRecord(40));
    EXPECT_EQ(record.RecordNumber(), CFileRecord::kNoRecord);
    EXPECT_EQ(record.LastFailure(), CFileRecord::Failure::ReadError);
    EXPECT_FALSE(record.ReadRecord(~0ull >> 16));
    EXPECT_EQ(record.RecordNumber(), CFileRecord::kNoRecord);
    EXPECT_EQ(record.LastFailure(), CFileRecord::Failure::ReadError);
    image.putRecord(23, Record().resident(0x80, text("x")));
    CFileRecord good(&open());
    EXPECT_TRUE(good.ReadRecord(23));
    EXPECT_TRUE(good.LoadAttributes());
    EXPECT_EQ(good.LastFailure(), CFileRecord::Failure::None);
}

TEST_F(NTFSRecord, ReadsLowRecordsDirectlyAndOthersThroughTheMftData) {
    // $MFT data: records 0-15 in clusters 48-51, records 16-31 in 40-43.
    image.putRecord(0,
                    Record().nonResident(0x80, {0x11, 0x04, 0x30, 0x11, 0x04, 0xF8}, 7, 8 * 4096));
    image.putRecord(15, Record().resident(0x80, text("15 direct")));
    image.putRecordAt(48 * 4096 + 15 * 1024, Record().resident(0x80, text("15 via data")));
    image.putRecord(16, Record().resident(0x80, text("16 direct")));
    image.putRecordAt(40 * 4096, Record().resident(0x80, text("16 via data")));

    CFileRecord record(&open());
    ASSERT_NE(volume->MftData(), nullptr);
    ASSERT_TRUE(record.ReadRecord(15));
    ASSERT_TRUE(record.LoadAttributes());
    EXPECT_EQ(valueOf(record.FirstUnnamedData()), "15 direct");
    ASSERT_TRUE(record.ReadRecord(16));
    ASSERT_TRUE(record.LoadAttributes());
    EXPECT_EQ(valueOf(record.FirstUnnamedData()), "16 via data");

    // Without $MFT data record 16 is read directly.
    image.putRecord(0, Record().standardInformation());
    CFileRecord direct(&open());
    ASSERT_EQ(volume->MftData(), nullptr);
    ASSERT_TRUE(direct.ReadRecord(16));
    ASSERT_TRUE(direct.LoadAttributes());
    EXPECT_EQ(valueOf(direct.FirstUnnamedData()), "16 direct");
}

TEST_F(NTFSRecord, LoadsTheSelectedAttributeTypes) {
    image.putRecord(20, Record()
                            .standardInformation()
                            .resident(0x30, std::vector<uint8_t>(0x44, 0))
                            .resident(0x80, text("named"), u"alt")
                            .resident(0x80, text("main")));
    image.putRecord(21, Record());
    CFileRecord record(&open());
    ASSERT_TRUE(record.ReadRecord(20));
    record.SetAttributeMask(0x83);
    ASSERT_TRUE(record.LoadAttributes());
    EXPECT_EQ(record.Attributes(0x10).Count(), 1u);
    EXPECT_EQ(record.Attributes(0x30).Count(), 0u); // $FILE_NAME not selected
    EXPECT_EQ(valueOf(record.Attributes(0x80).First()), "named");
    EXPECT_EQ(valueOf(record.FirstUnnamedData()), "main");

    record.SetAttributeMask(CFileRecord::kAllAttributes);
    ASSERT_TRUE(record.LoadAttributes()); // loading again replaces the lists
    EXPECT_EQ(record.Attributes(0x80).Count(), 2u);
    EXPECT_NE(dynamic_cast<CAttr_FileName*>(record.Attributes(0x30).First()), nullptr);

    ASSERT_TRUE(record.ReadRecord(21)); // only the end marker
    EXPECT_TRUE(record.LoadAttributes());
    for (uint32_t type = 0x10; type <= 0x100; type += 0x10)
        EXPECT_EQ(record.Attributes(type).Count(), 0u);
}

TEST_F(NTFSRecord, RefusesCompressedOrEncryptedRecords) {
    for (uint32_t flags : {0x800u, 0x4000u}) {
        image.putRecord(20, Record().standardInformation(flags).resident(0x80, text("d")));
        CFileRecord record(&open());
        ASSERT_TRUE(record.ReadRecord(20));
        record.SetAttributeMask(0x83);
        EXPECT_FALSE(record.LoadAttributes());
        EXPECT_EQ(record.LastFailure(), CFileRecord::Failure::Unsupported);
        EXPECT_EQ(record.Attributes(0x10).Count(), 1u); // what was added stays
        EXPECT_EQ(record.Attributes(0x80).Count(), 0u);
    }
}

TEST_F(NTFSRecord, EndsTheWalkAtMalformedAttributes) {
    auto header = [](uint32_t type, uint32_t length) {
        std::vector<uint8_t> a(24, 0);
        std::memcpy(a.data(), &type, 4);
        std::memcpy(a.data() + 4, &length, 4);
        return a;
    };
    struct Case {
        const char* what;
        Record record;
        bool loads;
        uint32_t dataCount;
    } cases[] = {
        {"length 0", Record().resident(0x80, text("a")).raw(header(0x80, 0)), true, 1},
        {"length below a header", Record().resident(0x80, text("a")).raw(header(0x80, 8)), true, 1},
        {"length past the record", Record().resident(0x80, text("a")).raw(header(0x80, 4000)), true,
         1},
        {"type past the lists", Record().resident(0x80, text("a")).raw(header(0x110, 24)), false,
         1},
        {"resident value past the attribute", Record().raw([] {
             std::vector<uint8_t> a(24, 0);
             a[0] = 0x80;
             a[4] = 24;
             a[0x10] = 0x40; // 64-byte value in a 24-byte attribute
             a[0x14] = 0x18;
             return a;
         }()),
         false, 0},
        {"non-resident header cut short", Record().raw([] {
             std::vector<uint8_t> a(0x30, 0);
             a[0] = 0x80;
             a[4] = 0x30;
             a[8] = 1;
             return a;
         }()),
         false, 0},
    };
    for (Case& c : cases) {
        SCOPED_TRACE(c.what);
        image.putRecord(20, c.record);
        CFileRecord record(&open());
        ASSERT_TRUE(record.ReadRecord(20));
        EXPECT_EQ(record.LoadAttributes(), c.loads);
        EXPECT_EQ(record.LastFailure(),
                  c.loads ? CFileRecord::Failure::None : CFileRecord::Failure::Corrupt);
        EXPECT_EQ(record.Attributes(0x80).Count(), c.dataCount);
    }
    // A first attribute offset pointing at the record's last bytes.
    image.putRecord(20, Record());
    image.bytes[image.mftOffset() + 20 * 1024 + 0x14] = 0xFE;
    image.bytes[image.mftOffset() + 20 * 1024 + 0x15] = 0x03;
    CFileRecord record(&open());
    ASSERT_TRUE(record.ReadRecord(20));
    EXPECT_TRUE(record.LoadAttributes());
}

TEST_F(NTFSRecord, PullsAttributesInThroughTheAttributeList) {
    // Record 20 lists: its own $DATA (skipped), a $DATA in 21, a $FILE_NAME
    // in 21 (not selected), a list entry pointing to 22 (never followed).
    const std::vector<uint8_t> list = concat(
        {listEntry(0x80, 20), listEntry(0x80, 21), listEntry(0x30, 21), listEntry(0x20, 22)});
    image.putRecord(
        20, Record().standardInformation().resident(0x20, list).resident(0x80, text("own")));
    image.putRecord(21, Record()
                            .resident(0x30, std::vector<uint8_t>(0x44, 0))
                            .resident(0x80, text("moved"))
                            .resident(0xB0, text("b")));
    // Record 22 lists record 20 again: a cycle if it were followed.
    image.putRecord(22, Record().resident(0x20, listEntry(0x80, 20)));

    CFileRecord record(&open());
    ASSERT_TRUE(record.ReadRecord(20));
    record.SetAttributeMask(0x83);
    ASSERT_TRUE(record.LoadAttributes());
    CSList<CAttrBase>& data = record.Attributes(0x80);
    ASSERT_EQ(data.Count(), 2u);
    EXPECT_EQ(valueOf(data.First()), "moved"); // moved in before the owner's own
    EXPECT_EQ(valueOf(data.Next()), "own");
    EXPECT_EQ(record.Attributes(0x30).Count(), 0u);
    auto* attrList = dynamic_cast<CAttr_AttrList<CAttrResident>*>(record.Attributes(0x20).First());
    ASSERT_NE(attrList, nullptr);
    ASSERT_EQ(attrList->ChildRecords().Count(), 1u);
    CFileRecord* child = attrList->ChildRecords().First();
    EXPECT_EQ(child->RecordNumber(), 21u);
    EXPECT_EQ(child->AttributeMask(), 1u << 7);
    EXPECT_EQ(child->Attributes(0x80).Count(), 0u); // emptied by the move
    EXPECT_EQ(child->Attributes(0xB0).Count(), 0u); // not selected in the child

    // Record 22 with all types selected: its entry names record 20, which is
    // loaded for its $DATA only, so 20's own list (naming 22) is not followed.
    CFileRecord cyclic(volume.get());
    ASSERT_TRUE(cyclic.ReadRecord(22));
    ASSERT_TRUE(cyclic.LoadAttributes());
    ASSERT_EQ(cyclic.Attributes(0x80).Count(), 1u);
    EXPECT_EQ(valueOf(cyclic.Attributes(0x80).First()), "own");
}

TEST_F(NTFSRecord, StopsFollowingAMalformedAttributeList) {
    struct Case {
        const char* what;
        std::vector<uint8_t> list;
        uint32_t moved;
    } cases[] = {
        {"entry length 0", concat({listEntry(0x80, 21, 0), listEntry(0x80, 21)}), 0},
        {"entry shorter than an entry", concat({listEntry(0x80, 21, 8), listEntry(0x80, 21)}), 0},
        {"type 0 ends the list", concat({listEntry(0, 21), listEntry(0x80, 21)}), 0},
        {"entry cut by the end of the value",
         [] {
             std::vector<uint8_t> e = listEntry(0x80, 21);
             e.resize(31);
             return e;
         }(),
         0},
        {"unreadable record stops the walk", concat({listEntry(0x80, 9999), listEntry(0x80, 21)}),
         0},
        {"the same record twice moves twice", concat({listEntry(0x80, 21), listEntry(0x80, 21)}),
         2},
    };
    image.putRecord(21, Record().resident(0x80, text("moved")));
    for (Case& c : cases) {
        SCOPED_TRACE(c.what);
        image.putRecord(20, Record().resident(0x20, c.list));
        CFileRecord record(&open());
        ASSERT_TRUE(record.ReadRecord(20));
        record.SetAttributeMask(0x83);
        EXPECT_TRUE(record.LoadAttributes());
        EXPECT_EQ(record.Attributes(0x20).Count(), 1u);
        EXPECT_EQ(record.Attributes(0x80).Count(), c.moved);
    }
}

#include "CChildProcess.h"
#include "CDiskImageMaker.h"
#include "CJpegMaker.h"
#include "CRecordingFrontEnd.h"
#include "CTempDir.h"
#include "ntfs/CAttrBase.h"
#include "ntfs/CFileRecord.h"
#include "ntfs/CNTFSVolume.h"
#include "platform/CFileDevice.h"
#include "scan/CScanner.h"
#include "volume/CNTFSAccessBuilder.h"
#include "volume/CNTFSVolumeAccess.h"
#include "volume/CVolumeOpener.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fcntl.h>
#include <filesystem>
#include <unistd.h>

// The reader against volumes made by mkntfs, and whole sweeps of an NTFS
// volume with photos copied in and some deleted again through ntfs-3g.

namespace {

using Bytes = std::vector<unsigned char>;

std::string makeVolume(const CTempDir& dir, const std::string& name, const std::string& size,
                       uint32_t sectorSize, uint32_t clusterSize) {
    const std::string image = dir.file(name);
    const std::string img = CDiskImageMaker::quote(image);
    EXPECT_TRUE(CDiskImageMaker::run("truncate -s " + size + " " + img + " && mkntfs -F -f -q -s " +
                                     std::to_string(sectorSize) + " -c " +
                                     std::to_string(clusterSize) + " " + img));
    return image;
}

} // namespace

TEST(NtfsMadeByMkntfs, LoadsTheBitmapThatNtfs3gReads) {
    for (const char* tool : {"mkntfs", "ntfscat"})
        if (!CDiskImageMaker::haveTool(tool))
            GTEST_SKIP() << tool << " is not installed (package ntfs-3g)";
    struct Case {
        uint32_t sectorSize, clusterSize;
        const char* size;
    } cases[] = {{512, 512, "3M"},
                 {512, 4096, "24M"},
                 {4096, 4096, "24M"},
                 {512, 65536, "80M"},
                 {512, 512, "300M"}}; // the last: a bitmap of 2 pieces
    CTempDir dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.sectorSize) + "/" + std::to_string(c.clusterSize));
        const std::string image = makeVolume(dir, "v.img", c.size, c.sectorSize, c.clusterSize);
        ASSERT_TRUE(CDiskImageMaker::run("ntfscat " + CDiskImageMaker::quote(image) +
                                         " '$Bitmap' > " + CDiskImageMaker::quote(dir.file("bm"))));
        const Bytes expected = CTempDir::readFile(dir.file("bm"));

        auto device = CFileDevice::open(image);
        {
            CNTFSVolume volume(device);
            ASSERT_TRUE(volume.IsReady()) << volume.FailureReason();
            EXPECT_EQ(volume.Version(), 0x0301);
            EXPECT_EQ(volume.BytesPerSector(), c.sectorSize);
            EXPECT_EQ(volume.ClusterSize(), c.clusterSize);
            ASSERT_NE(volume.MftData(), nullptr);
            // Every system record reads and loads, those past 15 through the
            // $MFT data.
            for (uint64_t n = 0; n < 24; ++n) {
                CFileRecord record(&volume);
                EXPECT_TRUE(record.ReadRecord(n)) << n;
                EXPECT_TRUE(record.LoadAttributes()) << n;
            }
        }
        CNTFSAccessBuilder builder(device);
        std::unique_ptr<CNTFSVolumeAccess> access = builder.build();
        const uint32_t clusters = access->getClusterCount();
        ASSERT_GE(expected.size() * 8, clusters);
        uint32_t free = 0;
        for (uint32_t n = 0; n < clusters; ++n) {
            const bool used = (expected[n / 8] >> (n % 8)) & 1;
            ASSERT_EQ(access->isClusterUsed(n), used) << n;
            free += used ? 0 : 1;
        }
        EXPECT_EQ(builder.freeClusters(), free);
        EXPECT_GT(free, clusters / 2);
    }
}

// Photos written through an ntfs-3g FUSE mount, some deleted again.
class NtfsPhotoSweep : public ::testing::Test {
protected:
    void SetUp() override {
        for (const char* tool : {"mkntfs", "ntfs-3g"})
            if (!CDiskImageMaker::haveTool(tool))
                GTEST_SKIP() << tool << " is not installed (package ntfs-3g)";
        int fuse = ::open("/dev/fuse", O_RDWR | O_CLOEXEC);
        if (fuse < 0)
            GTEST_SKIP() << "FUSE is not available here (/dev/fuse cannot be opened), so no "
                            "photos can be written into an NTFS image";
        ::close(fuse);

        const CJpegMaker::Kind kinds[] = {CJpegMaker::Kind::Jfif, CJpegMaker::Kind::Exif,
                                          CJpegMaker::Kind::Dqt};
        for (int i = 0; i < 8; ++i)
            photos.push_back(CJpegMaker::make(kinds[i % 3], 160 + 32 * i, 120 + 8 * i, 300 + i));
        image = makeVolume(dir, "ntfs.img", "32M", 512, 4096);
        const std::string mnt = dir.file("mnt");
        std::filesystem::create_directory(mnt);
        if (!CDiskImageMaker::run("ntfs-3g " + CDiskImageMaker::quote(image) + " " +
                                  CDiskImageMaker::quote(mnt)))
            GTEST_SKIP() << "ntfs-3g cannot mount an image here (FUSE refused the mount)";
        mounted = mnt;
        std::filesystem::create_directory(mnt + "/DCIM");
        for (size_t i = 0; i < photos.size(); ++i)
            CTempDir::writeFile(mnt + "/DCIM/IMG_" + std::to_string(i) + ".JPG", photos[i]);
        for (size_t i : deleted)
            std::filesystem::remove(mnt + "/DCIM/IMG_" + std::to_string(i) + ".JPG");
        unmount();
    }

    void TearDown() override { unmount(); }

    void unmount() {
        if (mounted.empty())
            return;
        ::sync();
        EXPECT_TRUE(CDiskImageMaker::run("umount " + CDiskImageMaker::quote(mounted) +
                                         " || fusermount3 -u " + CDiskImageMaker::quote(mounted)));
        mounted.clear();
    }

    std::vector<Bytes> sweep(CVolumeOpener::Choice choice, CVolumeOpener::tagOpened& opened) {
        const std::string out = dir.file("out" + std::to_string(sweeps++));
        std::filesystem::create_directory(out);
        ::testing::internal::CaptureStdout();
        {
            opened = CVolumeOpener::open(CFileDevice::open(image), choice);
            CRecordingFrontEnd frontEnd(out);
            CScanner scanner(opened.access.get());
            scanner.run(&frontEnd);
            EXPECT_EQ(scanner.unreadableSectors(), 0u);
        }
        const std::string output = ::testing::internal::GetCapturedStdout();
        EXPECT_EQ(output.find("Error"), std::string::npos) << output;
        return CTempDir::contentsOf(out);
    }

    std::vector<Bytes> photosNumbered(const std::vector<size_t>& numbers) const {
        std::vector<Bytes> wanted;
        for (size_t i : numbers)
            wanted.push_back(photos[i]);
        std::sort(wanted.begin(), wanted.end());
        return wanted;
    }

    CTempDir dir;
    std::vector<Bytes> photos;
    const std::vector<size_t> deleted = {1, 4, 6};
    std::string image;
    std::string mounted;
    int sweeps = 0;
};

TEST_F(NtfsPhotoSweep, RecoversExactlyTheDeletedPhotos) {
    CVolumeOpener::tagOpened opened;
    const std::vector<Bytes> recovered = sweep(CVolumeOpener::Choice::Auto, opened);
    EXPECT_EQ(opened.fileSystem, "NTFS");
    EXPECT_EQ(opened.kind, CVolumeOpener::Kind::Ntfs);
    EXPECT_EQ(recovered, photosNumbered(deleted)); // byte for byte, and nothing else
}

TEST_F(NtfsPhotoSweep, RawSweepFindsTheAllocatedPhotosToo) {
    CVolumeOpener::tagOpened opened;
    const std::vector<Bytes> recovered = sweep(CVolumeOpener::Choice::Raw, opened);
    EXPECT_EQ(recovered, photosNumbered({0, 1, 2, 3, 4, 5, 6, 7}));
}

TEST_F(NtfsPhotoSweep, CommandLineSaysWhatItSweeps) {
    const std::string out = dir.file("cli");
    std::filesystem::create_directory(out);
    std::string err;
    ASSERT_EQ(CChildProcess::run({VALLORA_RECOVER, "-q", image, out}, nullptr, &err), 0) << err;
    EXPECT_NE(err.find("File system: NTFS\nAccess: NTFS (auto)\n"), std::string::npos) << err;
    EXPECT_NE(err.find("Volume: NTFS 3.1, 512-byte sectors, 4096-byte clusters, 8191 clusters, "),
              std::string::npos)
        << err;
    EXPECT_EQ(CTempDir::contentsOf(out), photosNumbered(deleted));

    // A volume that is not NTFS, read as NTFS: refused with its reason.
    const std::string blank = dir.file("blank.img");
    ASSERT_TRUE(CDiskImageMaker::run("truncate -s 1M " + CDiskImageMaker::quote(blank)));
    EXPECT_NE(CChildProcess::run({VALLORA_RECOVER, "--fs", "ntfs", blank, out}, nullptr, &err), 0);
    EXPECT_NE(err.find("as NTFS: not an NTFS volume (the boot sector does not name NTFS)"),
              std::string::npos)
        << err;
}

// A photo that ntfs-3g wrote in pieces out of order (its tail first, into
// the holes of deleted files), then deleted: the thorough mode takes its
// pieces from the deleted file's MFT record and writes it byte for byte,
// once, in place of the partial file the carving makes of it.
#include "CDiskImageMaker.h"
#include "CTempDir.h"
#include "CVolumeSweep.h"

#include "ntfs/CDeletedDataFinder.h"
#include "ntfs/CNTFSVolume.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <unistd.h>

namespace {

using Bytes = std::vector<unsigned char>;

// Makes p1.jpg (a plasma fractal coded by cjpeg, as the recall benchmark's
// photos) and vol.img: files a<i> and b<i> in turn, the volume filled, the
// a<i> deleted, the photo written into their holes from its last 20 KiB to
// its first, then deleted.
const char* kScript =
    "convert -seed 31 -size 640x480 plasma:fractal -blur 0x0.6 p.ppm && "
    "cjpeg -quality 90 p.ppm > p1.jpg && "
    "truncate -s 16M vol.img && mkntfs -q -F -f -c 4096 vol.img 2>/dev/null && mkdir m && "
    "ntfs-3g vol.img m && yes a | head -c 12000 > a && yes b | head -c 4000 > b && "
    "for i in $(seq 1 12); do cp a m/a$i && cp b m/b$i; done && "
    "(head -c $(df -B1 --output=avail m | tail -1) /dev/zero > m/fill; true) && rm m/a* && "
    "for k in 2 1 0; do dd if=p1.jpg of=m/p1.jpg bs=20480 skip=$k seek=$k count=1 "
    "conv=notrunc status=none; done && sync && cmp p1.jpg m/p1.jpg && rm m/p1.jpg && "
    "fusermount -u m";

// True when a deleted record lists size bytes in three or more pieces,
// some of them before the piece they follow.
bool listedOutOfOrder(const std::string& image, uint64_t size) {
    CNTFSVolume volume(image);
    bool found = false;
    CDeletedDataFinder(volume).forEach([&](const tagDeletedData& data) {
        if (data.dataSize != size || data.runs.size() < 3)
            return true;
        for (size_t i = 1; i < data.runs.size(); ++i)
            found = found || data.runs[i].lcn < data.runs[i - 1].lcn;
        return true;
    });
    return found;
}

} // namespace

TEST(ThoroughMftRuns, PhotoInPiecesOutOfOrderComesBackOnce) {
    for (const char* tool : {"mkntfs", "ntfs-3g", "fusermount", "convert", "cjpeg"})
        if (!CDiskImageMaker::haveTool(tool))
            GTEST_SKIP() << tool << " is not installed";
    if (::geteuid() != 0 || ::access("/dev/fuse", R_OK | W_OK) != 0)
        GTEST_SKIP() << "mounting through FUSE needs root and /dev/fuse";
    CTempDir dir;
    ASSERT_TRUE(
        CDiskImageMaker::run("cd " + CDiskImageMaker::quote(dir.path()) + " && " + kScript));
    const Bytes photo = CTempDir::readFile(dir.file("p1.jpg"));
    ASSERT_TRUE(listedOutOfOrder(dir.file("vol.img"), photo.size()));

    // The carving alone leaves the photo's first piece as a partial file
    // at the same start: the record's photo takes its place.
    const tagSweep thorough =
        CVolumeSweep::run(dir.file("vol.img"), CVolumeOpener::Choice::Auto, dir, "out", true, true);
    EXPECT_EQ(thorough.recovered, std::vector<Bytes>{photo}); // byte for byte, once, nothing else
    const std::string partial = dir.file("out/partial");
    if (::access(partial.c_str(), F_OK) == 0) {
        EXPECT_TRUE(CTempDir::photosIn(partial).empty());
    }

    // The default mode does not look at the records.
    const tagSweep plain =
        CVolumeSweep::run(dir.file("vol.img"), CVolumeOpener::Choice::Auto, dir, "plain");
    EXPECT_EQ(std::count(plain.recovered.begin(), plain.recovered.end(), photo), 0);
}

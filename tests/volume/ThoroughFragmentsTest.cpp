// Photos written by the file systems' own tools into the holes left by
// deleted files, around files that stay, then deleted: the thorough mode
// follows the free clusters over the used ones and recovers each photo
// byte for byte; the default mode cannot.
#include "CDiskImageMaker.h"
#include "CJpegMaker.h"
#include "CTempDir.h"
#include "CVolumeSweep.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <unistd.h>

namespace {

using Bytes = std::vector<unsigned char>;

// A shell script run in the folder that holds the photos (p1.jpg, p2.jpg):
// it makes vol.img, writes small files a<i> and b<i> in turn, fills the
// volume, deletes the a<i> files and writes the photos into their holes
// (the b<i> files stay between the pieces, or are deleted too), then
// deletes the photos.
struct tagFragmentCase {
    const char* name;
    std::vector<const char*> tools;
    bool mounted; // needs root, FUSE
    const char* script;
    // Makes p1.jpg with real tools instead (a plasma fractal coded by
    // cjpeg, as the recall benchmark's photos).
    const char* firstPhoto = nullptr;
};

const tagFragmentCase kCases[] = {
    {"Fat32WithMtools",
     {"mkfs.fat", "mcopy", "mdel", "mdir"},
     false,
     "truncate -s 40M vol.img && mkfs.fat -F 32 -s 1 vol.img >/dev/null && "
     "yes a | head -c 3000 > a && yes b | head -c 1000 > b && "
     "for i in 1 2 3 4 5 6 7 8; do mcopy -i vol.img a ::/a$i && mcopy -i vol.img b ::/b$i; done && "
     // mtools allocates after the last cluster it allocated: the end of the
     // volume is filled (it keeps a few clusters back), and eat takes what
     // is left there, so the photos go into the holes.
     "free=$(mdir -i vol.img :: | sed -n 's/ //g; s/bytesfree//p') && "
     "head -c $((free - 4096)) /dev/zero > fill && mcopy -i vol.img fill ::/fill && "
     "for i in 1 2 3 4 5 6 7 8; do mdel -i vol.img ::/a$i; done && "
     "head -c 4096 /dev/zero > eat && mcopy -i vol.img eat ::/eat && "
     "mcopy -i vol.img p1.jpg ::/p1.jpg && mcopy -i vol.img p2.jpg ::/p2.jpg && "
     "mdel -i vol.img ::/p1.jpg ::/p2.jpg"},
    {"Fat32ThreePiecesWithFreeFilesBetween",
     {"mkfs.fat", "mcopy", "mdel", "mdir", "convert", "cjpeg"},
     false,
     // As above with larger holes, and the files between the pieces (noise)
     // deleted at the end: p1 lies in three pieces with free foreign
     // clusters between them.
     "truncate -s 40M vol.img && mkfs.fat -F 32 -s 1 vol.img >/dev/null && "
     "yes a | head -c 20000 > a && "
     "for i in 1 2 3 4 5 6 7 8; do mcopy -i vol.img a ::/a$i && mcopy -i vol.img noise ::/b$i; "
     "done && "
     "free=$(mdir -i vol.img :: | sed -n 's/ //g; s/bytesfree//p') && "
     "head -c $((free - 4096)) /dev/zero > fill && mcopy -i vol.img fill ::/fill && "
     "for i in 1 2 3 4 5 6 7 8; do mdel -i vol.img ::/a$i; done && "
     "head -c 4096 /dev/zero > eat && mcopy -i vol.img eat ::/eat && "
     "mcopy -i vol.img p1.jpg ::/p1.jpg && mcopy -i vol.img p2.jpg ::/p2.jpg && "
     "mdel -i vol.img ::/p1.jpg ::/p2.jpg && "
     "for i in 1 2 3 4 5 6 7 8; do mdel -i vol.img ::/b$i; done",
     "convert -seed 31 -size 640x480 plasma:fractal -blur 0x0.6 p.ppm && "
     "cjpeg -quality 90 p.ppm > p1.jpg"},
    {"NtfsWithNtfs3g",
     {"mkntfs", "ntfs-3g", "fusermount"},
     true,
     "truncate -s 16M vol.img && mkntfs -q -F -f -c 4096 vol.img 2>/dev/null && mkdir m && "
     "ntfs-3g vol.img m && "
     "yes a | head -c 5000 > a && yes b | head -c 4000 > b && "
     "for i in 1 2 3 4 5 6 7 8; do cp a m/a$i && cp b m/b$i; done && "
     "(head -c $(df -B1 --output=avail m | tail -1) /dev/zero > m/fill; true) && "
     "rm m/a? && cp p1.jpg p2.jpg m/ && sync && rm m/p1.jpg m/p2.jpg && fusermount -u m"},
};

void PrintTo(const tagFragmentCase& c, std::ostream* os) {
    *os << c.name;
}

class ThoroughFragments : public ::testing::TestWithParam<tagFragmentCase> {};

TEST_P(ThoroughFragments, PhotosWrittenAroundFilesThatStayComeBackWhole) {
    const tagFragmentCase& c = GetParam();
    for (const char* tool : c.tools)
        if (!CDiskImageMaker::haveTool(tool))
            GTEST_SKIP() << tool << " is not installed";
    if (c.mounted && (::geteuid() != 0 || ::access("/dev/fuse", R_OK | W_OK) != 0))
        GTEST_SKIP() << "mounting through FUSE needs root and /dev/fuse";
    CTempDir dir;
    std::vector<Bytes> photos = {CJpegMaker::make(CJpegMaker::Kind::Jfif, 200, 150, 31),
                                 CJpegMaker::make(CJpegMaker::Kind::Exif, 160, 120, 32)};
    if (c.firstPhoto) {
        ASSERT_TRUE(CDiskImageMaker::run("cd " + CDiskImageMaker::quote(dir.path()) + " && " +
                                         c.firstPhoto));
        photos[0] = CTempDir::readFile(dir.file("p1.jpg"));
    }
    CTempDir::writeFile(dir.file("p1.jpg"), photos[0]);
    CTempDir::writeFile(dir.file("p2.jpg"), photos[1]);
    // 1000 bytes of noise, for files between the pieces.
    Bytes noise(1000);
    uint32_t x = 7;
    for (auto& b : noise)
        b = static_cast<unsigned char>((x = x * 1103515245 + 12345) >> 16);
    CTempDir::writeFile(dir.file("noise"), noise);
    ASSERT_TRUE(
        CDiskImageMaker::run("cd " + CDiskImageMaker::quote(dir.path()) + " && " + c.script));

    const tagSweep thorough =
        CVolumeSweep::run(dir.file("vol.img"), CVolumeOpener::Choice::Auto, dir, "out", true);
    std::vector<Bytes> wanted = photos;
    std::sort(wanted.begin(), wanted.end());
    EXPECT_EQ(thorough.recovered, wanted); // byte for byte, and nothing else

    // The photos do lie in pieces: the default mode does not recover them.
    const tagSweep plain =
        CVolumeSweep::run(dir.file("vol.img"), CVolumeOpener::Choice::Auto, dir, "plain");
    for (const Bytes& photo : photos)
        EXPECT_EQ(std::count(plain.recovered.begin(), plain.recovered.end(), photo), 0);
}

INSTANTIATE_TEST_SUITE_P(Tools, ThoroughFragments, ::testing::ValuesIn(kCases),
                         [](const auto& test) { return std::string(test.param.name); });

} // namespace

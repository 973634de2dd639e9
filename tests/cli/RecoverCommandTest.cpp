// vallora-recover as a user runs it: a disk image with real photos in,
// the same photos out, and a clear line and status for every bad input.
#include "CChildProcess.h"
#include "CJpegMaker.h"
#include "CTempDir.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <stdexcept>
#include <thread>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

const std::string kProgram = VALLORA_RECOVER;

// An image of noise with photos at the given sectors; returns the photos.
std::vector<std::vector<unsigned char>> makeImage(const std::string& path, uint32_t sectors,
                                                  const std::vector<uint32_t>& at) {
    std::vector<unsigned char> image(size_t(sectors) * 512);
    uint32_t state = 12345;
    for (auto& b : image) {
        state = state * 1103515245 + 12345;
        b = static_cast<unsigned char>(state >> 16);
    }
    std::vector<std::vector<unsigned char>> photos;
    const CJpegMaker::Kind kinds[] = {CJpegMaker::Kind::Jfif, CJpegMaker::Kind::Exif,
                                      CJpegMaker::Kind::Dqt};
    for (size_t i = 0; i < at.size(); ++i) {
        auto photo = CJpegMaker::make(kinds[i % 3], 200 + int(i) * 50, 150, uint32_t(i + 1));
        auto padded = photo;
        padded.resize((photo.size() + 511) / 512 * 512, 0);
        if (size_t(at[i]) * 512 + padded.size() > image.size())
            throw std::invalid_argument("photo does not fit the image");
        std::copy(padded.begin(), padded.end(), image.begin() + size_t(at[i]) * 512);
        photos.push_back(photo);
    }
    CTempDir::writeFile(path, image);
    return photos;
}

} // namespace

TEST(RecoverCommand, RecoversEveryPhotoByteForByte) {
    CTempDir dir;
    const std::vector<uint32_t> at = {1, 700, 39990, 50001};
    const auto photos = makeImage(dir.file("card.img"), 60000, at);
    fs::create_directory(dir.file("out"));
    const auto before = CTempDir::readFile(dir.file("card.img"));
    std::string out, err;
    EXPECT_EQ(CChildProcess::run({kProgram, dir.file("card.img"), dir.file("out")}, &out, &err), 0)
        << err;
    EXPECT_TRUE(CTempDir::readFile(dir.file("card.img")) == before) << "the source was written";
    for (size_t i = 0; i < at.size(); ++i)
        EXPECT_EQ(CTempDir::readFile(dir.file("out/" + std::to_string(at[i] + 1982) + ".jpg")),
                  photos[i])
            << "photo at sector " << at[i];
    EXPECT_EQ(CTempDir::photosIn(dir.file("out")).size(), 4u);
    EXPECT_NE(out.find("The run time is:"), std::string::npos);
    EXPECT_NE(out.find("扫描完成: 用时"), std::string::npos);
    EXPECT_NE(out.find("成功恢复4个文件"), std::string::npos);
}

TEST(RecoverCommand, BadInputGetsOneClearLineAndItsStatus) {
    CTempDir dir;
    makeImage(dir.file("card.img"), 100, {});
    fs::create_directory(dir.file("out"));
    CTempDir::writeFile(dir.file("plain-file"), {1, 2, 3});
    struct Case {
        std::vector<std::string> args;
        int status;
        std::string says;
    } cases[] = {
        {{}, 2, "expected SOURCE and OUTPUT_DIR"},
        {{"--sector-size", "3", dir.file("card.img"), dir.file("out")}, 2, "invalid sector size"},
        {{dir.file("missing.img"), dir.file("out")}, 3, "No such file"},
        {{dir.path(), dir.file("out")}, 3, "is a directory"},
        {{"/dev/null", dir.file("out")}, 3, "not a block device or a disk image"},
        {{dir.file("card.img"), dir.file("missing")}, 4, "No such file"},
        {{dir.file("card.img"), dir.file("plain-file")}, 4, "is not a folder"},
    };
    for (const auto& c : cases) {
        std::vector<std::string> argv = {kProgram};
        argv.insert(argv.end(), c.args.begin(), c.args.end());
        std::string err;
        EXPECT_EQ(CChildProcess::run(argv, nullptr, &err), c.status) << err;
        EXPECT_NE(err.find(c.says), std::string::npos) << err;
        EXPECT_EQ(err.rfind("vallora-recover: ", 0), 0u) << err;
    }
    std::string out;
    EXPECT_EQ(CChildProcess::run({kProgram, "--help"}, &out), 0);
    EXPECT_NE(out.find("Usage: vallora-recover"), std::string::npos);
}

// Ctrl-C as the Cancel button: with photos found it stops the sweep and
// writes them; with nothing found it abandons.
TEST(RecoverCommand, InterruptStopsOrAbandons) {
    for (bool photoFirst : {true, false}) {
        CTempDir dir;
        makeImage(dir.file("card.img"), 2000, {photoFirst ? 1u : 1900u});
        // A long sparse stretch keeps the sweep busy while the signal arrives.
        const off_t tail = off_t(64) << 30;
        if (photoFirst) {
            ASSERT_EQ(::truncate(dir.file("card.img").c_str(), tail), 0);
        } else {
            const auto head = CTempDir::readFile(dir.file("card.img"));
            std::vector<unsigned char> none;
            CTempDir::writeFile(dir.file("card.img"), none);
            int fd = ::open(dir.file("card.img").c_str(), O_WRONLY);
            ASSERT_EQ(::pwrite(fd, head.data(), head.size(), tail), ssize_t(head.size()));
            ::close(fd);
        }
        fs::create_directory(dir.file("out"));
        CChildProcess child({kProgram, dir.file("card.img"), dir.file("out")});
        std::this_thread::sleep_for(std::chrono::milliseconds(1000));
        child.signal(SIGINT);
        const int status = child.wait();
        if (photoFirst) {
            EXPECT_EQ(status, 5) << child.err();
            EXPECT_TRUE(fs::exists(dir.file("out/1983.jpg")));
            EXPECT_NE(child.out().find("扫描终止"), std::string::npos);
        } else {
            EXPECT_EQ(status, 6) << child.err();
            EXPECT_TRUE(fs::is_empty(dir.file("out")));
            EXPECT_NE(child.err().find("abandoned"), std::string::npos);
        }
    }
}

TEST(RecoverCommand, ThoroughModeSkipsDuplicatesAndKeepsPartialFilesApart) {
    CTempDir dir;
    // Photos 1 and 2 are equal bytes at two places; photo 3 is cut off in
    // the middle of its data by noise.
    const auto photos = makeImage(dir.file("card.img"), 4000, {1, 1000, 2000});
    auto image = CTempDir::readFile(dir.file("card.img"));
    std::copy(photos[0].begin(), photos[0].end(), image.begin() + 1000 * 512);
    std::fill(image.begin() + 1000 * 512 + long(photos[0].size()),
              image.begin() + 1000 * 512 + long((photos[0].size() + 511) / 512 * 512), 0);
    const size_t cut = 2000 * 512 + photos[2].size() / 2;
    std::fill(image.begin() + long(cut), image.begin() + long(cut) + 40, 0xFF);
    CTempDir::writeFile(dir.file("card.img"), image);
    fs::create_directory(dir.file("out"));

    std::string out, err;
    EXPECT_EQ(CChildProcess::run(
                  {kProgram, "--thorough", "--keep-partial", dir.file("card.img"), dir.file("out")},
                  &out, &err),
              0)
        << err;
    EXPECT_EQ(CTempDir::readFile(dir.file("out/1983.jpg")), photos[0]);
    EXPECT_FALSE(fs::exists(dir.file("out/2982.jpg")));
    EXPECT_FALSE(fs::exists(dir.file("out/3982.jpg")));
    EXPECT_TRUE(fs::exists(dir.file("out/partial/3982.jpg")));
    EXPECT_NE(out.find("成功恢复1个文件,跳过1个重复文件,1个不完整文件存入partial文件夹"),
              std::string::npos)
        << out;
    EXPECT_NE(err.find("1 partial images written into"), std::string::npos) << err;
}

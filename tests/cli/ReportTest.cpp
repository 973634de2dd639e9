// What vallora-recover leaves beside the photos: report.xml, which maps
// every file back onto the source, and the photos' own dates.
#include "CChildProcess.h"
#include "CDigest.h"
#include "CDiskImageMaker.h"
#include "CJpegMaker.h"
#include "CTempDir.h"
#include "CXmlDocument.h"
#include "ParseArgs.h"
#include "scan/CDfxmlReport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <ctime>
#include <fcntl.h>
#include <filesystem>
#include <map>
#include <set>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

const std::string kProgram = VALLORA_RECOVER;

uint64_t number(const std::string& text) {
    return std::stoull(text);
}

time_t modificationTime(const std::string& path) {
    struct stat st {};
    EXPECT_EQ(::stat(path.c_str(), &st), 0) << path;
    return st.st_mtime;
}

time_t localTime(int year, int month, int day, int hour, int minute, int second) {
    std::tm parts{};
    parts.tm_year = year - 1900;
    parts.tm_mon = month - 1;
    parts.tm_mday = day;
    parts.tm_hour = hour;
    parts.tm_min = minute;
    parts.tm_sec = second;
    parts.tm_isdst = -1;
    return std::mktime(&parts);
}

} // namespace

TEST(Report, OptionsTurnTheReportAndTheDatesOff) {
    std::string error;
    CCliOptions plain;
    ASSERT_TRUE(parseArgs({"card.img", "out"}, plain, error));
    EXPECT_TRUE(plain.report);
    EXPECT_TRUE(plain.photoDates);
    CCliOptions off;
    ASSERT_TRUE(parseArgs({"--no-report", "card.img", "--no-dates", "out"}, off, error)) << error;
    EXPECT_FALSE(off.report);
    EXPECT_FALSE(off.photoDates);
    EXPECT_EQ(off.source, "card.img");
    for (const char* word : {"--no-report", "--no-dates", "report.xml"})
        EXPECT_NE(CCliOptions::helpText().find(word), std::string::npos) << word;

    CTempDir dir;
    CTempDir::writeFile(dir.file("card.img"), std::vector<unsigned char>(64 * 1024, 0));
    fs::create_directory(dir.file("out"));
    std::string err;
    EXPECT_EQ(
        CChildProcess::run({kProgram, "-q", "--no-report", dir.file("card.img"), dir.file("out")},
                           nullptr, &err),
        0)
        << err;
    EXPECT_TRUE(fs::is_empty(dir.file("out")));
    // Without the option a sweep that found nothing still says what it swept.
    EXPECT_EQ(
        CChildProcess::run({kProgram, "-q", dir.file("card.img"), dir.file("out")}, nullptr, &err),
        0)
        << err;
    EXPECT_TRUE(fs::exists(dir.file("out/report.xml")));
}

// Every file the report lists was written, every file written is listed,
// and its byte runs, read from the image, give exactly its bytes and its
// digest, in the default and the thorough mode. The image's name is not
// UTF-8 and holds XML's special characters.
TEST(Report, ByteRunsReadFromTheFat32ImageGiveEachFileAndItsDigest) {
    for (const char* tool : {"mkfs.vfat", "mcopy", "mdel", "xmllint"})
        if (!CDiskImageMaker::haveTool(tool))
            FAIL() << tool << " is missing (tools/install-deps.sh installs it)";
    CTempDir dir;
    const std::string image = dir.file("card \xff<&>.img");
    const std::string img = CDiskImageMaker::quote(image);
    ASSERT_TRUE(CDiskImageMaker::run("truncate -s 40M " + img + " && mkfs.vfat -F 32 " + img));
    const CJpegMaker::Kind kinds[] = {CJpegMaker::Kind::Exif, CJpegMaker::Kind::Jfif,
                                      CJpegMaker::Kind::Dqt};
    for (int i = 0; i < 5; ++i) {
        const std::string name = "P" + std::to_string(i) + ".JPG";
        CTempDir::writeFile(dir.file(name),
                            CJpegMaker::make(kinds[i % 3], 160 + 40 * i, 120, uint32_t(i + 3)));
        ASSERT_TRUE(CDiskImageMaker::run("mcopy -i " + img + " " +
                                         CDiskImageMaker::quote(dir.file(name)) + " ::/" + name));
    }
    ASSERT_TRUE(CDiskImageMaker::run("mdel -i " + img + " ::/P0.JPG ::/P2.JPG ::/P3.JPG"));

    const auto source = CTempDir::readFile(image);
    for (const std::string mode : {"--fs=auto", "--thorough"}) {
        SCOPED_TRACE(mode);
        const std::string out = dir.file(mode.substr(2));
        fs::create_directory(out);
        std::string err;
        ASSERT_EQ(CChildProcess::run({kProgram, "-q", mode, image, out}, nullptr, &err), 0) << err;
        const std::string report = out + "/report.xml";
        ASSERT_TRUE(CDiskImageMaker::run("xmllint --noout " + CDiskImageMaker::quote(report)));
        CXmlDocument doc(report);

        EXPECT_EQ(doc.value("//d:creator/d:program"), "vallora-recover");
        EXPECT_EQ(doc.value("//d:creator/d:version"), VALLORA_VERSION);
        EXPECT_NE(doc.value("//d:execution_environment/d:command_line").find(" -q " + mode),
                  std::string::npos);
        EXPECT_EQ(doc.value("//d:source/d:image_filename"), CDfxmlReport::xmlSafe(image));
        EXPECT_EQ(doc.value("//vallora:source/vallora:image_size"), std::to_string(40 << 20));
        EXPECT_EQ(doc.value("//vallora:source/vallora:sector_size"), "512");
        EXPECT_EQ(doc.value("//vallora:source/vallora:file_system"), "FAT32");
        EXPECT_EQ(doc.value("//vallora:source/vallora:access"), "FAT32");
        EXPECT_EQ(doc.value("//vallora:source/vallora:mode"), "auto");
        EXPECT_EQ(doc.value("//d:volume/d:ftype_str"), "FAT32");
        EXPECT_EQ(doc.value("//vallora:sweep/@outcome"), "completed");
        const uint64_t sweptFrom = number(doc.value("//vallora:swept//d:byte_run/@img_offset"));
        const uint64_t sweptEnd = sweptFrom + number(doc.value("//vallora:swept//d:byte_run/@len"));
        EXPECT_LE(sweptEnd, uint64_t(40) << 20);
        EXPECT_TRUE(doc.nodes("//vallora:unreadable//d:byte_run").empty());

        std::set<std::string> listed;
        for (auto* object : doc.nodes("//d:fileobject")) {
            const std::string name = doc.value("d:filename", object);
            SCOPED_TRACE(name);
            listed.insert(out + "/" + name);
            const auto file = CTempDir::readFile(out + "/" + name);
            EXPECT_EQ(number(doc.value("d:filesize", object)), file.size());
            EXPECT_EQ(doc.value("d:hashdigest[@type='sha256']", object), CDigest::sha256Hex(file));
            std::vector<unsigned char> gathered;
            for (auto* run : doc.nodes("d:byte_runs/d:byte_run", object)) {
                EXPECT_EQ(number(doc.value("@file_offset", run)), gathered.size());
                const uint64_t at = number(doc.value("@img_offset", run));
                const uint64_t length = number(doc.value("@len", run));
                ASSERT_LE(at + length, source.size());
                EXPECT_GE(at, sweptFrom);
                EXPECT_LE(at + length, sweptEnd);
                gathered.insert(gathered.end(), source.begin() + long(at),
                                source.begin() + long(at + length));
            }
            EXPECT_TRUE(gathered == file) << "the byte runs do not give the file";
        }
        const auto written = CTempDir::photosIn(out);
        EXPECT_EQ(listed, std::set<std::string>(written.begin(), written.end()));
        EXPECT_EQ(written.size(), 3u);
    }
}

// Dates from Exif fixtures made with exiftool: DateTimeOriginal with and
// without its offset, DateTime alone, and none at all.
TEST(Report, PhotosAreDatedByTheirExifDateUnlessTurnedOff) {
    if (!CDiskImageMaker::haveTool("exiftool"))
        FAIL() << "exiftool is missing (tools/install-deps.sh installs libimage-exiftool-perl)";
    CTempDir dir;
    struct Photo {
        uint32_t sector;
        std::string tags;
        time_t expected; // 0: no date, the time of recovery
    } photos[] = {
        {10, "'-ExifIFD:DateTimeOriginal=2019:06:15 14:30:00' '-ExifIFD:OffsetTimeOriginal=+02:00'",
         1560601800},
        {200, "'-IFD0:ModifyDate=2015:01:02 03:04:05'", localTime(2015, 1, 2, 3, 4, 5)},
        {400,
         "'-ExifIFD:DateTimeOriginal=2011:11:11 11:11:11' '-IFD0:ModifyDate=2020:02:02 02:02:02'",
         localTime(2011, 11, 11, 11, 11, 11)},
        {600, "", 0},
    };
    std::vector<unsigned char> card(2000 * 512, 0);
    std::map<uint32_t, std::vector<unsigned char>> planted;
    for (const auto& p : photos) {
        const std::string path = dir.file("p" + std::to_string(p.sector) + ".jpg");
        CTempDir::writeFile(
            path, CJpegMaker::make(p.tags.empty() ? CJpegMaker::Kind::Jfif : CJpegMaker::Kind::Exif,
                                   200, 150, p.sector));
        if (!p.tags.empty()) {
            ASSERT_TRUE(CDiskImageMaker::run("exiftool -q -overwrite_original " + p.tags + " " +
                                             CDiskImageMaker::quote(path)))
                << p.tags;
        }
        planted[p.sector] = CTempDir::readFile(path);
        ASSERT_LT(planted[p.sector].size(), 190u * 512);
        std::copy(planted[p.sector].begin(), planted[p.sector].end(),
                  card.begin() + long(p.sector) * 512);
    }
    CTempDir::writeFile(dir.file("card.img"), card);

    for (bool dates : {true, false}) {
        SCOPED_TRACE(dates ? "dates" : "--no-dates");
        const std::string out = dir.file(dates ? "dated" : "undated");
        fs::create_directory(out);
        std::vector<std::string> args = {kProgram, "-q", dir.file("card.img"), out};
        if (!dates)
            args.insert(args.begin() + 1, "--no-dates");
        const time_t before = std::time(nullptr);
        std::string err;
        ASSERT_EQ(CChildProcess::run(args, nullptr, &err), 0) << err;
        const time_t after = std::time(nullptr);
        CXmlDocument doc(out + "/report.xml");
        for (const auto& p : photos) {
            const std::string name = std::to_string(p.sector + 1982) + ".jpg";
            SCOPED_TRACE(name);
            ASSERT_EQ(CTempDir::readFile(out + "/" + name), planted[p.sector]);
            const time_t mtime = modificationTime(out + "/" + name);
            const std::string listed =
                doc.value("//d:fileobject[d:filename='" + name + "']/d:mtime");
            if (dates && p.expected) {
                EXPECT_EQ(mtime, p.expected);
                char iso[32];
                std::tm parts{};
                gmtime_r(&p.expected, &parts);
                std::strftime(iso, sizeof iso, "%Y-%m-%dT%H:%M:%SZ", &parts);
                EXPECT_EQ(listed, iso);
            } else {
                EXPECT_GE(mtime, before);
                EXPECT_LE(mtime, after);
                EXPECT_EQ(listed, "");
            }
        }
    }
}

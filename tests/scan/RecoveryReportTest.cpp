// The record of a recovery: report.xml written by the engine (also after a
// stop), the byte runs and digests it lists, and the photo dates.
#include "CDigest.h"
#include "CDiskImageMaker.h"
#include "CJpegMaker.h"
#include "CMemoryVolumeAccess.h"
#include "CMiniJpeg.h"
#include "CRecordingFrontEnd.h"
#include "CTempDir.h"
#include "CXmlDocument.h"
#include "scan/CDfxmlReport.h"
#include "scan/CPhotoDate.h"
#include "scan/CRecoveryLog.h"
#include "scan/CScanner.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>

namespace fs = std::filesystem;

namespace {

tagReportSource memorySource() {
    tagReportSource source;
    source.program = "test";
    source.path = "memory";
    source.size = 2000 * 512;
    source.sectorSize = 512;
    source.access = "raw";
    source.mode = "raw";
    return source;
}

} // namespace

TEST(RecoveryReport, StoppedSweepStillWritesTheReportWithWhatWasSweptAndWritten) {
    CTempDir out;
    CMemoryVolumeAccess volume(2000, 1);
    volume.used = {200, 1000};    // three runs: 1-199, 201-999, 1001-1999
    volume.failingSectors = {50}; // unreadable, before the first photo
    volume.put(100, miniJpeg(3));
    volume.put(1500, miniJpeg(2)); // never reached
    CRecordingFrontEnd ui(out.path());
    ui.onLabel = [&](int id, const std::string&) {
        if (id == CScanFrontEnd::kFoundLabel)
            ui.stop = CScanFrontEnd::StopRequest::StopAndWrite;
    };
    CScanner scanner(&volume);
    scanner.setReport(memorySource());
    ASSERT_EQ(scanner.run(&ui), CScanner::Outcome::Stopped);
    EXPECT_EQ(scanner.reportFailure(), "");

    const std::string report = out.file("report.xml");
    ASSERT_TRUE(fs::exists(report));
    EXPECT_FALSE(fs::exists(out.file(".report.xml.partial")));
    EXPECT_TRUE(CDiskImageMaker::run("xmllint --noout " + CDiskImageMaker::quote(report)));
    CXmlDocument doc(report);
    EXPECT_EQ(doc.value("/d:dfxml/@version"), "1.1.1");
    EXPECT_EQ(doc.value("//d:creator/d:program"), "test");
    EXPECT_EQ(doc.value("//d:source/d:image_filename"), "memory");
    EXPECT_EQ(doc.value("//vallora:sweep/@outcome"), "stopped");
    // Swept from cluster 1 to the end of the first run, where the stop came.
    EXPECT_EQ(doc.value("//vallora:swept//d:byte_run/@img_offset"), "512");
    EXPECT_EQ(doc.value("//vallora:swept//d:byte_run/@len"), std::to_string(199 * 512));
    EXPECT_EQ(doc.values("//vallora:unreadable//d:byte_run/@img_offset"),
              std::vector<std::string>{std::to_string(50 * 512)});
    EXPECT_EQ(doc.value("//vallora:unreadable//d:byte_run/@len"), "512");

    const auto files = doc.nodes("//d:fileobject");
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(doc.value("d:filename", files[0]), "2082.jpg");
    const auto photo = miniJpeg(3);
    EXPECT_EQ(doc.value("d:filesize", files[0]), std::to_string(photo.size()));
    EXPECT_EQ(doc.values("d:byte_runs/d:byte_run/@img_offset", files[0]),
              std::vector<std::string>{std::to_string(100 * 512)});
    EXPECT_EQ(doc.value("d:byte_runs/d:byte_run/@file_offset", files[0]), "0");
    EXPECT_EQ(doc.value("d:byte_runs/d:byte_run/@len", files[0]), std::to_string(photo.size()));
    EXPECT_EQ(doc.value("d:hashdigest[@type='sha256']", files[0]), CDigest::sha256Hex(photo));
    EXPECT_EQ(CTempDir::readFile(out.file("2082.jpg")), photo);
}

TEST(RecoveryReport, AnEarlierReportIsKeptAndANameThatCannotBeTakenIsTold) {
    CTempDir out;
    CMemoryVolumeAccess volume(200, 1);
    volume.put(10, miniJpeg(2));
    const std::vector<unsigned char> earlier = {'o', 'l', 'd'};
    CTempDir::writeFile(out.file("report.xml"), earlier);
    {
        CRecordingFrontEnd ui(out.path());
        CScanner scanner(&volume);
        scanner.setReport(memorySource());
        scanner.run(&ui);
        EXPECT_EQ(scanner.reportFailure(), "");
        EXPECT_EQ(scanner.reportName(), "report_1.xml");
        EXPECT_EQ(CTempDir::readFile(out.file("report.xml")), earlier);
        EXPECT_EQ(CXmlDocument(out.file("report_1.xml")).value("//d:fileobject/d:filename"),
                  "1992.jpg");
    }
    // A folder in the way: the report is not written, and the photos are.
    CTempDir blocked;
    fs::create_directory(blocked.file("report.xml"));
    CRecordingFrontEnd ui(blocked.path());
    CScanner scanner(&volume);
    scanner.setReport(memorySource());
    scanner.run(&ui);
    EXPECT_NE(scanner.reportFailure().find("cannot create"), std::string::npos)
        << scanner.reportFailure();
    EXPECT_EQ(scanner.reportName(), "");
    EXPECT_TRUE(scanner.writeFailures().empty());
    EXPECT_EQ(CTempDir::readFile(blocked.file("1992.jpg")), miniJpeg(2));
    EXPECT_EQ(CTempDir::photosIn(blocked.path()).size(), 1u);
    for (const auto& entry : fs::directory_iterator(blocked.path()))
        EXPECT_NE(entry.path().filename().string()[0], '.') << "a hidden file was left behind";
}

TEST(RecoveryReport, PiecesOfOneStretchMakeOneRunAndJumpsStartAnother) {
    // Through the writer: a file of 40001 sectors is read in two pieces.
    CTempDir out;
    CMemoryVolumeAccess volume(40030, 1);
    const auto image = miniJpeg(40001);
    volume.put(5, image);
    CRecordingFrontEnd ui(out.path());
    CScanner scanner(&volume);
    scanner.setReport(memorySource());
    scanner.sweep(&ui);
    scanner.recoverAll();
    ASSERT_EQ(scanner.recoveryLog().files().size(), 1u);
    const tagRecoveredFile& file = scanner.recoveryLog().files()[0];
    ASSERT_EQ(file.runs.size(), 1u);
    EXPECT_EQ(file.runs[0].imageOffset, 5u * 512);
    EXPECT_EQ(file.runs[0].length, image.size());
    EXPECT_EQ(file.size, image.size());
    EXPECT_EQ(file.sha256, CDigest::sha256Hex(image));

    // Directly: pieces that do not continue each other.
    CRecoveryLog log;
    log.setHashing(true);
    log.beginFile();
    const std::vector<unsigned char> piece(100, 0x11);
    log.addPiece(1000, piece.data(), 100);
    log.addPiece(1100, piece.data(), 100);
    log.addPiece(5000, piece.data(), 50);
    log.finishFile(-1);
    log.fileWritten("x.jpg");
    const auto& runs = log.files().at(0).runs;
    ASSERT_EQ(runs.size(), 2u);
    EXPECT_EQ(runs[0].fileOffset, 0u);
    EXPECT_EQ(runs[0].imageOffset, 1000u);
    EXPECT_EQ(runs[0].length, 200u);
    EXPECT_EQ(runs[1].fileOffset, 200u);
    EXPECT_EQ(runs[1].imageOffset, 5000u);
    EXPECT_EQ(runs[1].length, 50u);
    EXPECT_EQ(log.files()[0].sha256, CDigest::sha256Hex(std::vector<unsigned char>(250, 0x11)));
}

TEST(RecoveryReport, ExifDateTexts) {
    struct Case {
        const char* date;
        const char* offset;
        bool valid;
        time_t utc; // when valid and offset given
    } cases[] = {
        {"2019:06:15 14:30:00", "+02:00", true, 1560601800},
        {"2019:06:15 14:30:00", "-05:30", true, 1560628800},
        {"2000:02:29 00:00:00", "+00:00", true, 951782400},
        {"2019:02:29 10:00:00", "+00:00", false, 0}, // no such day
        {"2019:04:31 10:00:00", "", false, 0},
        {"0000:00:00 00:00:00", "", false, 0}, // cameras write this for "unset"
        {"    :  :     :  :  ", "", false, 0},
        {"2019:06:15 24:00:00", "", false, 0},
        {"2019:06:15", "", false, 0},
        {"2019-06-15 14:30:00", "", false, 0},
        {"2019:06:15 14:30:00x", "", false, 0},
    };
    for (const auto& c : cases) {
        time_t when = 0;
        EXPECT_EQ(CPhotoDate::parse(c.date, c.offset, when), c.valid) << c.date;
        if (c.valid) {
            EXPECT_EQ(when, c.utc) << c.date << " " << c.offset;
        }
    }
    // Without an offset the date is this computer's local time.
    std::tm local{};
    local.tm_year = 119;
    local.tm_mon = 5;
    local.tm_mday = 15;
    local.tm_hour = 14;
    local.tm_min = 30;
    local.tm_isdst = -1;
    time_t when = 0;
    ASSERT_TRUE(CPhotoDate::parse("2019:06:15 14:30:00", "", when));
    EXPECT_EQ(when, std::mktime(&local));
    // Bytes that are no JPEG and no Exif have no date.
    const std::vector<unsigned char> noise(4096, 0xAB);
    EXPECT_FALSE(CPhotoDate::read(noise.data(), noise.size(), when));
    EXPECT_FALSE(CPhotoDate::read(miniJpeg(1).data(), 505, when));
}

TEST(RecoveryReport, TextsAreMadeSafeForXml) {
    const std::pair<std::string, std::string> cases[] = {
        {"plain /dev/sdb1", "plain /dev/sdb1"},
        {"照片 & <card>", "照片 & <card>"}, // escaping is the XML writer's job
        {"a\xff"
         "b",
         "a\xEF\xBF\xBD"
         "b"},
        {"tab\tline\ncr\r", "tab\tline\ncr\r"},
        {std::string("nul\0x", 5), "nul\xEF\xBF\xBDx"},
        {"\x01\x1f", "\xEF\xBF\xBD\xEF\xBF\xBD"},
        {"\xC0\xAF", "\xEF\xBF\xBD\xEF\xBF\xBD"},                 // overlong '/'
        {"\xED\xA0\x80", "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"}, // a surrogate
        {"\xEF\xBF\xBF", "\xEF\xBF\xBD"},                         // U+FFFF
        {"\xF0\x9F\x93\xB7", "\xF0\x9F\x93\xB7"},                 // a camera emoji
        {"cut \xE7\x85", "cut \xEF\xBF\xBD\xEF\xBF\xBD"},
    };
    for (const auto& [text, safe] : cases)
        EXPECT_EQ(CDfxmlReport::xmlSafe(text), safe) << text;
}

TEST(RecoveryReport, ThoroughModeNamesAndMapsAPhotoThatBeginsInsideASectorAndLiesInPieces) {
    CTempDir out;
    CMemoryVolumeAccess volume(400, 1);
    const auto photo = CJpegMaker::make(CJpegMaker::Kind::Exif, 160, 120, 41);
    // From byte 77 of sector 100 on, around sector 104, which a file that
    // stays holds.
    const size_t before = 4 * 512 - 77;
    ASSERT_GT(photo.size(), before);
    std::memcpy(volume.sector(100) + 77, photo.data(), before);
    std::memcpy(volume.sector(105), photo.data() + before, photo.size() - before);
    volume.used = {104};
    // Its name is taken by a file with other bytes: it is saved beside it.
    CTempDir::writeFile(out.file("2082-77.jpg"), std::vector<unsigned char>{1, 2, 3});
    CRecordingFrontEnd ui(out.path());
    CScanner scanner(&volume);
    scanner.setThorough(false);
    scanner.setReport(memorySource());
    ASSERT_EQ(scanner.run(&ui), CScanner::Outcome::Completed);
    EXPECT_EQ(CTempDir::readFile(out.file("2082-77_1.jpg")), photo);

    CXmlDocument doc(out.file("report.xml"));
    const auto files = doc.nodes("//d:fileobject");
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(doc.value("d:filename", files[0]), "2082-77_1.jpg");
    EXPECT_EQ(
        doc.values("d:byte_runs/d:byte_run/@img_offset", files[0]),
        (std::vector<std::string>{std::to_string(100 * 512 + 77), std::to_string(105 * 512)}));
    EXPECT_EQ(doc.values("d:byte_runs/d:byte_run/@file_offset", files[0]),
              (std::vector<std::string>{"0", std::to_string(before)}));
    EXPECT_EQ(doc.value("d:hashdigest[@type='sha256']", files[0]), CDigest::sha256Hex(photo));
}

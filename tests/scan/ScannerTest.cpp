// The sweep: runs of free clusters, what is offered to the carving rules,
// progress, stop requests and unreadable runs.
#include "CMemoryVolumeAccess.h"
#include "CMiniJpeg.h"
#include "CRecordingFrontEnd.h"
#include "CTempDir.h"
#include "scan/CScanner.h"

#include <gtest/gtest.h>

#include <utility>
#include <vector>

using Reads = std::vector<std::pair<uint32_t, uint32_t>>;

TEST(ScannerRuns, RunsAreCutAtTheBufferSizeAndClusterZeroIsNeverRead) {
    struct Case {
        uint32_t sectorsPerCluster;
        uint32_t clusters;
        Reads expected;
    } cases[] = {
        {1, 90000, {{1, 40000}, {40001, 80000}, {80001, 89999}}},
        {8, 12001, {{1, 5000}, {5001, 10000}, {10001, 12000}}},
        {128, 700, {{1, 312}, {313, 624}, {625, 699}}},
    };
    for (const auto& c : cases) {
        CMemoryVolumeAccess volume(c.clusters, c.sectorsPerCluster);
        CRecordingFrontEnd ui;
        CScanner scanner(&volume);
        scanner.sweep(&ui);
        EXPECT_EQ(volume.clusterReads, c.expected) << c.sectorsPerCluster << " sectors per cluster";
    }
}

TEST(ScannerRuns, UsedClustersAreSkippedAndBreakTheCandidate) {
    CMemoryVolumeAccess volume(400, 1);
    volume.put(100, miniJpeg(4)); // sectors 100..103, with 102 in use: lost
    volume.put(200, miniJpeg(3)); // whole in one run: found
    volume.used = {1, 2, 102, 399};
    CRecordingFrontEnd ui;
    CScanner scanner(&volume);
    scanner.sweep(&ui);
    EXPECT_EQ(volume.clusterReads, (Reads{{3, 101}, {103, 398}}));
    auto& found = scanner.candidateTracker().foundFiles;
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0]->startSector, 200u);
    EXPECT_EQ(found[0]->lastSector, 202u);
}

TEST(ScannerRuns, ImageWhoseHeaderCrossesTheRunCutIsFound) {
    // Runs of 40000 sectors: the first ends with sector 40000. One header
    // straddles the cut (FF DB in sector 40000, its length in 40001); the
    // other begins exactly at the first byte of the next run.
    for (uint32_t headerAt : {510u, 512u}) {
        CMemoryVolumeAccess volume(40100, 1);
        const uint32_t start = 40000;
        std::vector<unsigned char> image(3 * 512, 0x5A);
        const unsigned char head[] = {0xFF, 0xD8, 0xFF, 0xE0, 0x01, 0x00, 'J', 'F', 'I', 'F'};
        std::copy(std::begin(head), std::end(head), image.begin());
        image[4] = static_cast<unsigned char>((headerAt - 4) >> 8);
        image[5] = static_cast<unsigned char>((headerAt - 4) & 0xFF);
        const unsigned char dqt[] = {0xFF, 0xDB, 0x00, 0x43};
        std::copy(std::begin(dqt), std::end(dqt), image.begin() + headerAt);
        const unsigned char sos[] = {0xFF, 0xDA, 0x00, 0x08};
        std::copy(std::begin(sos), std::end(sos), image.begin() + headerAt + 0x43 + 2);
        image[3 * 512 - 2] = 0xFF;
        image[3 * 512 - 1] = 0xD9;
        volume.put(start, image);

        CRecordingFrontEnd ui;
        CScanner scanner(&volume);
        scanner.sweep(&ui);
        ASSERT_EQ(volume.clusterReads, (Reads{{1, 40000}, {40001, 40099}}));
        auto& found = scanner.candidateTracker().foundFiles;
        ASSERT_EQ(found.size(), 1u) << "header at " << headerAt;
        EXPECT_EQ(found[0]->startSector, start);
        EXPECT_EQ(found[0]->lastSector, start + 2);
        EXPECT_EQ(found[0]->endOffset, 511u);
    }
}

TEST(ScannerRuns, ImageEndingInTheLastSectorOfTheVolumeIsFound) {
    CMemoryVolumeAccess volume(64, 1);
    volume.put(60, miniJpeg(4));
    CRecordingFrontEnd ui;
    CScanner scanner(&volume);
    scanner.sweep(&ui);
    ASSERT_EQ(scanner.candidateTracker().foundFiles.size(), 1u);
    EXPECT_EQ(scanner.candidateTracker().foundFiles[0]->lastSector, 63u);
    EXPECT_EQ(ui.foundCounts, std::vector<uint32_t>{1});
    EXPECT_EQ(ui.last(CScanFrontEnd::kFoundLabel), "找到1个文件");
}

TEST(ScannerRuns, UnreadableSectorsAreSkippedAndNothingComesFromStaleBytes) {
    // The second run's read fails while the buffer still holds the first
    // run, with its image: nothing may be found twice. The run is read again
    // in pieces: its readable sectors are swept, and the candidate that runs
    // into the bad sector is dropped.
    CMemoryVolumeAccess volume(80001, 1);
    volume.put(100, miniJpeg(3));
    volume.put(39999, miniJpeg(5)); // 39999..40003, broken by the bad sector 40002
    volume.put(60000, miniJpeg(4)); // readable, in the failed run
    volume.failingSectors = {40002};
    CRecordingFrontEnd ui;
    CScanner scanner(&volume);
    scanner.sweep(&ui);
    auto& found = scanner.candidateTracker().foundFiles;
    ASSERT_EQ(found.size(), 2u);
    EXPECT_EQ(found[0]->startSector, 100u);
    EXPECT_EQ(found[1]->startSector, 60000u);
    EXPECT_EQ(scanner.unreadableSectors(), 1u);
    EXPECT_LE(volume.clusterReads.size(), 2u + 2 * 16);
}

TEST(ScannerProgress, ReportedEvery2048ClustersUpToTheEnd) {
    CMemoryVolumeAccess volume(4096, 1);
    CRecordingFrontEnd ui;
    CScanner scanner(&volume);
    scanner.sweep(&ui);
    EXPECT_EQ(ui.ranges, std::vector<uint64_t>{4096});
    EXPECT_EQ(ui.positions, (std::vector<uint64_t>{2048, 4096}));
    EXPECT_EQ(ui.last(CScanFrontEnd::kTotalLabel), "总扇区:4096");
    EXPECT_EQ(ui.labels[CScanFrontEnd::kPercentLabel],
              (std::vector<std::string>{"50.00%", "100.00%"}));
    EXPECT_EQ(ui.last(CScanFrontEnd::kSweptLabel), "已扫描:4096个扇区");
}

TEST(ScannerProgress, SectorCountsUseSectorsPerCluster) {
    CMemoryVolumeAccess volume(2100, 8);
    volume.used = {1, 2};
    CRecordingFrontEnd ui;
    CScanner scanner(&volume);
    scanner.sweep(&ui);
    EXPECT_EQ(ui.last(CScanFrontEnd::kTotalLabel), "总扇区:16800");
    EXPECT_EQ(ui.last(CScanFrontEnd::kSweptLabel), "已扫描:16384个扇区");
}

TEST(ScannerRun, StopRequestsEndTheSweepAfterTheCurrentRun) {
    for (CScanFrontEnd::StopRequest request :
         {CScanFrontEnd::StopRequest::StopAndWrite, CScanFrontEnd::StopRequest::Abandon}) {
        CTempDir out;
        CMemoryVolumeAccess volume(100000, 1);
        volume.put(30000, miniJpeg(2)); // after the stop, in the same run
        volume.put(50000, miniJpeg(2)); // in a later run: never read
        CRecordingFrontEnd ui(out.path());
        ui.onProgress = [&](uint32_t position) {
            if (position == 2048)
                ui.stop = request;
        };
        CScanner scanner(&volume);
        const auto outcome = scanner.run(&ui);
        EXPECT_EQ(volume.clusterReads, (Reads{{1, 40000}}));
        if (request == CScanFrontEnd::StopRequest::StopAndWrite) {
            EXPECT_EQ(outcome, CScanner::Outcome::Stopped);
            ASSERT_EQ(ui.summaries.size(), 1u);
            EXPECT_EQ(ui.summaries[0].second, "扫描终止");
            // The summary and the bar tell how far the sweep got.
            EXPECT_EQ(ui.summaries[0].first, "用时0秒,成功恢复1个文件\n"
                                             "扫描未完成:已扫描40001个扇区,共100000个扇区(40.00%)");
            EXPECT_FALSE(scanner.sweptWhole());
            EXPECT_EQ(scanner.sweptSectors(), 40001u);
            EXPECT_EQ(ui.last(CScanFrontEnd::kSweptLabel), "成功恢复1个文件");
            // Swept up to 40001 (40.00%), then the writing of the one file.
            EXPECT_EQ(ui.ranges, (std::vector<uint64_t>{100000, 1}));
            ASSERT_GE(ui.positions.size(), 3u);
            EXPECT_EQ(std::vector<uint64_t>(ui.positions.end() - 3, ui.positions.end()),
                      (std::vector<uint64_t>{40001, 0, 1}));
            const auto& percents = ui.labels[CScanFrontEnd::kPercentLabel];
            ASSERT_GE(percents.size(), 2u);
            EXPECT_EQ(std::vector<std::string>(percents.end() - 2, percents.end()),
                      (std::vector<std::string>{"40.00%", "100%"}));
            EXPECT_EQ(scanner.filesWritten(), 1u);
            EXPECT_EQ(CTempDir::readFile(out.file("31982.jpg")), miniJpeg(2));
        } else {
            EXPECT_EQ(outcome, CScanner::Outcome::Abandoned);
            EXPECT_TRUE(ui.summaries.empty());
            EXPECT_TRUE(ui.calls.empty());
            EXPECT_TRUE(volume.sectorReads.empty());
        }
    }
}

// Runs are looked for ahead of the testing: a stop that comes while one is
// looked for still lets the runs found be swept, one that comes while a run
// is tested ends the sweep after it; no run after those is ever read.
TEST(ScannerRun, RunsFoundAheadAndStops) {
    struct tagCase {
        const char* name;
        bool stopWhenFound; // else at the progress of cluster 43008, in the second run
        uint64_t sweptSectors;
    };
    for (const tagCase& c : {tagCase{"stop while the second run is looked for", false, 80001},
                             tagCase{"stop while the first run is tested", true, 40001}}) {
        CMemoryVolumeAccess volume(160000, 1); // four runs
        volume.put(100, miniJpeg(2));
        CRecordingFrontEnd ui;
        if (c.stopWhenFound)
            ui.onLabel = [&](int id, const std::string&) {
                if (id == CScanFrontEnd::kFoundLabel)
                    ui.stop = CScanFrontEnd::StopRequest::StopAndWrite;
            };
        else
            ui.onProgress = [&](uint64_t position) {
                if (position == 43008)
                    ui.stop = CScanFrontEnd::StopRequest::StopAndWrite;
            };
        CScanner scanner(&volume);
        scanner.sweep(&ui);
        // The second run is read in either case (its read began as the first
        // ended); the third never is.
        EXPECT_EQ(volume.clusterReads, (Reads{{1, 40000}, {40001, 80000}})) << c.name;
        EXPECT_EQ(scanner.sweptSectors(), c.sweptSectors) << c.name;
        EXPECT_EQ(scanner.filesFound(), 1u) << c.name;
    }
}

TEST(ScannerRun, CompleteRunShowsSummaryThenHandsBackToTheFrontEnd) {
    CTempDir out;
    CMemoryVolumeAccess volume(5000, 1);
    volume.put(10, miniJpeg(2));
    volume.put(4000, miniJpeg(7));
    CRecordingFrontEnd ui(out.path());
    CScanner scanner(&volume);
    EXPECT_EQ(scanner.run(&ui), CScanner::Outcome::Completed);
    ASSERT_EQ(ui.summaries.size(), 1u);
    EXPECT_EQ(ui.summaries[0].first, "用时0秒,成功恢复2个文件");
    EXPECT_EQ(ui.summaries[0].second, "扫描完成");
    EXPECT_EQ(ui.calls, (std::vector<std::string>{"summary", "showMainDialog", "openOutputFolder",
                                                  "closeScanDialog", "endProgram"}));
    EXPECT_EQ(CTempDir::readFile(out.file("1992.jpg")), miniJpeg(2));
    EXPECT_EQ(CTempDir::readFile(out.file("5982.jpg")), miniJpeg(7));
}

TEST(ScannerRun, VolumeWithEveryClusterUsedIsAnEmptySweep) {
    CTempDir out;
    CMemoryVolumeAccess volume(3000, 1);
    for (uint32_t c = 1; c < 3000; ++c)
        volume.used.insert(c);
    CRecordingFrontEnd ui(out.path());
    CScanner scanner(&volume);
    EXPECT_EQ(scanner.run(&ui), CScanner::Outcome::Completed);
    EXPECT_TRUE(volume.clusterReads.empty());
    EXPECT_EQ(ui.summaries[0].first, "用时0秒,成功恢复0个文件");
    EXPECT_EQ(ui.summaries[0].second, "扫描完成");
}

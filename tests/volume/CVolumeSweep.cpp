#include "CVolumeSweep.h"

#include "CJpegMaker.h"
#include "CRecordingFrontEnd.h"
#include "CTempDir.h"
#include "platform/CFileDevice.h"
#include "scan/CScanner.h"
#include "volume/CVolumeAccess.h"

#include <gtest/gtest.h>

#include <filesystem>

tagSweep CVolumeSweep::run(const std::string& image, CVolumeOpener::Choice choice,
                           const CTempDir& dir, const std::string& outName, bool thorough,
                           bool keepPartial) {
    const std::string out = dir.file(outName);
    std::filesystem::create_directory(out);
    tagSweep result;
    ::testing::internal::CaptureStdout();
    try {
        auto opened = CVolumeOpener::open(CFileDevice::open(image), choice);
        result.fileSystem = opened.fileSystem;
        result.kind = opened.kind;
        result.geometry = CVolumeOpener::geometry(opened.kind, *opened.access);
        CRecordingFrontEnd frontEnd(out);
        CScanner scanner(opened.access.get());
        if (thorough)
            scanner.setThorough(keepPartial);
        scanner.run(&frontEnd);
        result.unreadable = scanner.unreadableSectors();
    } catch (...) {
        ::testing::internal::GetCapturedStdout();
        throw;
    }
    result.output = ::testing::internal::GetCapturedStdout();
    result.recovered = CTempDir::contentsOf(out);
    return result;
}

std::vector<std::vector<unsigned char>> CVolumeSweep::makePhotos(int count) {
    const CJpegMaker::Kind kinds[] = {CJpegMaker::Kind::Jfif, CJpegMaker::Kind::Exif,
                                      CJpegMaker::Kind::Dqt};
    std::vector<std::vector<unsigned char>> photos;
    for (int i = 0; i < count; ++i)
        photos.push_back(CJpegMaker::make(kinds[i % 3], 96 + 16 * i, 64 + 8 * i, 100 + i));
    return photos;
}

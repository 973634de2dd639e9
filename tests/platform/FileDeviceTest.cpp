// Opening sources: read-only always, with the geometry an image file is given.
#include "CTempDir.h"
#include "platform/CFileDevice.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

TEST(FileDevice, ImageFileTakesTheGivenSectorSize) {
    CTempDir dir;
    CTempDir::writeFile(dir.file("img"), std::vector<unsigned char>(8192, 1));
    auto plain = CFileDevice::open(dir.file("img"));
    EXPECT_EQ(plain->sectorSize(), 512u);
    EXPECT_EQ(plain->byteSize(), 8192u);
    EXPECT_FALSE(plain->isBlockDevice());
    EXPECT_EQ(CFileDevice::open(dir.file("img"), 4096)->sectorSize(), 4096u);
    EXPECT_THROW(CFileDevice::open(dir.file("img"), 1000), CDeviceOpenError);
}

TEST(FileDevice, RefusesADescriptorOpenForWriting) {
    CTempDir dir;
    CTempDir::writeFile(dir.file("img"), std::vector<unsigned char>(512, 0));
    const int fd = ::open(dir.file("img").c_str(), O_RDWR);
    ASSERT_GE(fd, 0);
    try {
        CFileDevice::adopt(fd, "img");
        ADD_FAILURE() << "a writable descriptor was taken";
    } catch (const CDeviceOpenError& e) {
        EXPECT_NE(std::string(e.what()).find("read-only"), std::string::npos);
    }
    EXPECT_EQ(::fcntl(fd, F_GETFD), -1) << "the refused descriptor is closed";
}

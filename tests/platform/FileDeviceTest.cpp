// Opening sources: read-only always, with the geometry an image file is given.
#include "CTempDir.h"
#include "platform/CFileDevice.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
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

TEST(FileDevice, FifoIsRefusedWithoutWaitingForAWriter) {
    CTempDir dir;
    ASSERT_EQ(::mkfifo(dir.file("pipe").c_str(), 0600), 0);
    // In a child with an alarm: an open that waits for a writer would hang.
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::alarm(10);
        try {
            CFileDevice::open(dir.file("pipe"));
        } catch (const CDeviceOpenError& e) {
            _exit(std::string(e.what()).find("not a block device") != std::string::npos ? 0 : 2);
        }
        _exit(3);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status)) << "the open hung until the alarm";
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

// Getting a device descriptor from the root helper, and udisks2's names.
#include "CTempDir.h"
#include "privilege/CFdPassing.h"
#include "privilege/CPkexecOpener.h"
#include "privilege/CUDisks2Opener.h"

#include <QTest>

#include <atomic>
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

class TestAppOpener : public QObject {
    Q_OBJECT

private slots:
    void descriptorTravelsOverSocket() {
        int pair[2];
        QCOMPARE(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair), 0);
        const int file = ::open("/proc/self/exe", O_RDONLY | O_CLOEXEC);
        QVERIFY(file >= 0);
        QVERIFY(CFdPassing::sendFd(pair[1], file));
        const int got = CFdPassing::receiveFd(pair[0], 1000);
        QVERIFY(got >= 0);
        struct stat a {
        }, b{};
        ::fstat(file, &a);
        ::fstat(got, &b);
        QCOMPARE(a.st_ino, b.st_ino);
        QVERIFY(::fcntl(got, F_GETFD) & FD_CLOEXEC);
        ::close(got);
        ::close(file);
        // Nothing sent: a time-out, then the peer's end.
        QCOMPARE(CFdPassing::receiveFd(pair[0], 50), -1);
        QCOMPARE(errno, ETIMEDOUT);
        ::close(pair[1]);
        QCOMPARE(CFdPassing::receiveFd(pair[0], 1000), -1);
        QCOMPARE(errno, ENODATA);
        ::close(pair[0]);
    }

    void helperOpensBlockDevicesOnly_data() {
        QTest::addColumn<QString>("path");
        QTest::addRow("not under /dev") << "/etc/passwd";
        QTest::addRow("escapes /dev") << "/dev/../etc/passwd";
        QTest::addRow("a character device") << "/dev/null";
        QTest::addRow("missing") << "/dev/vallora-no-such-device";
    }
    void helperOpensBlockDevicesOnly() {
        QFETCH(QString, path);
        std::atomic<bool> stop{false};
        std::string error;
        const int fd = CPkexecOpener::runHelper("", VALLORA_OPEN_DEVICE_HELPER, path.toStdString(),
                                                stop, error);
        QCOMPARE(fd, -1);
        QVERIFY(!error.empty());
    }

    void helperHandsOverBlockDevice() {
        // Any block device the test can see will do.
        std::string device;
        for (const char* candidate : {"/dev/loop0", "/dev/sda", "/dev/vda", "/dev/nvme0n1"}) {
            struct stat st {};
            if (::stat(candidate, &st) == 0 && S_ISBLK(st.st_mode) &&
                ::access(candidate, R_OK) == 0) {
                device = candidate;
                break;
            }
        }
        if (device.empty())
            QSKIP("no readable block device here");
        std::atomic<bool> stop{false};
        std::string error;
        const int fd =
            CPkexecOpener::runHelper("", VALLORA_OPEN_DEVICE_HELPER, device, stop, error);
        QVERIFY2(fd >= 0, error.c_str());
        struct stat st {};
        QCOMPARE(::fstat(fd, &st), 0);
        QVERIFY(S_ISBLK(st.st_mode));
        QCOMPARE(::fcntl(fd, F_GETFL) & O_ACCMODE, O_RDONLY);
        ::close(fd);
    }

    void udisksObjectPaths() {
        QCOMPARE(CUDisks2Opener::objectPathFor("sdb1"),
                 std::string("/org/freedesktop/UDisks2/block_devices/sdb1"));
        QCOMPARE(CUDisks2Opener::objectPathFor("dm-0"),
                 std::string("/org/freedesktop/UDisks2/block_devices/dm_2d0"));
    }
};

QTEST_GUILESS_MAIN(TestAppOpener)
#include "DeviceOpenerTest.moc"

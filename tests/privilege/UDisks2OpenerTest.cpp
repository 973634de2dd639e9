// Getting a device descriptor from udisks2, against a stand-in udisks2
// service on a private message bus that plays the system bus.
#include "CTempDir.h"
#include "privilege/CUDisks2Opener.h"

#include <QDBusConnection>
#include <QDBusContext>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusUnixFileDescriptor>
#include <QDeadlineTimer>
#include <QProcess>
#include <QTest>
#include <QThread>

#include <atomic>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

class CFakeManager : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.UDisks2.Manager")
public slots:
    QList<QDBusObjectPath> ResolveDevice(const QVariantMap& devspec, const QVariantMap&) {
        askedPath = devspec.value("path").toString();
        if (askedPath != "/dev/fakedisk")
            return {};
        return {QDBusObjectPath("/org/freedesktop/UDisks2/block_devices/fakedisk")};
    }

public:
    QString askedPath;
};

class CFakeBlock : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.UDisks2.Block")
public slots:
    QDBusUnixFileDescriptor OpenDevice(const QString& mode, const QVariantMap&) {
        askedMode = mode;
        interactive = message().isInteractiveAuthorizationAllowed();
        if (behaviour == Refuse) {
            sendErrorReply("org.freedesktop.UDisks2.Error.NotAuthorizedDismissed",
                           "Not authorized");
            return {};
        }
        if (behaviour == NeverAnswer) {
            setDelayedReply(true);
            return {};
        }
        const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
        QDBusUnixFileDescriptor handle(fd);
        ::close(fd);
        return handle;
    }

public:
    enum Behaviour { Hand, Refuse, NeverAnswer } behaviour = Hand;
    std::string file;
    QString askedMode;
    bool interactive = false;
};

class TestAppUDisks : public QObject {
    Q_OBJECT

    struct tagResult {
        CUDisks2Opener::Result result = CUDisks2Opener::Result::Failed;
        int fd = -1;
        std::string error;
        bool done = false;
    };

    // Runs the opener on its own thread, as the scan worker does, while this
    // thread serves the stand-in.
    tagResult openOnWorker(const std::string& path, std::atomic<bool>& stop, int stopAfterMs = -1) {
        tagResult out;
        std::atomic<bool> finished{false};
        QThread* worker = QThread::create([&] {
            out.result = CUDisks2Opener::open(path, stop, out.fd, out.error);
            finished = true;
        });
        worker->start();
        if (stopAfterMs >= 0) {
            QTest::qWait(stopAfterMs);
            stop = true;
        }
        QDeadlineTimer deadline(10000);
        while (!finished.load() && !deadline.hasExpired())
            QTest::qWait(10);
        worker->wait();
        delete worker;
        out.done = finished.load();
        return out;
    }

private slots:
    void initTestCase() {
        bus.setProgram("dbus-daemon");
        bus.setArguments({"--session", "--nofork", "--print-address=1"});
        bus.start();
        if (!bus.waitForStarted(5000))
            QSKIP("dbus-daemon is not installed");
        QTRY_VERIFY(bus.canReadLine());
        address = QString::fromUtf8(bus.readLine()).trimmed();
        qputenv("DBUS_SYSTEM_BUS_ADDRESS", address.toUtf8());
    }
    void cleanupTestCase() {
        bus.kill();
        bus.waitForFinished();
    }

    void noServiceMeansUnavailable() {
        std::atomic<bool> stop{false};
        const tagResult out = openOnWorker("/dev/fakedisk", stop);
        QVERIFY(out.done);
        QCOMPARE(out.result, CUDisks2Opener::Result::Unavailable);
        QCOMPARE(out.fd, -1);
    }

    void handsOverReadOnlyDescriptor() {
        CTempDir dir;
        const std::string file = dir.file("disk.img");
        CTempDir::writeFile(file, std::vector<unsigned char>(4096, 0xAB));
        QDBusConnection service = QDBusConnection::connectToBus(address, "fake-udisks");
        QVERIFY(service.isConnected());
        CFakeManager manager;
        CFakeBlock block;
        block.file = file;
        QVERIFY(service.registerObject("/org/freedesktop/UDisks2/Manager", &manager,
                                       QDBusConnection::ExportAllSlots));
        QVERIFY(service.registerObject("/org/freedesktop/UDisks2/block_devices/fakedisk", &block,
                                       QDBusConnection::ExportAllSlots));
        QVERIFY(service.registerService("org.freedesktop.UDisks2"));

        std::atomic<bool> stop{false};
        tagResult out = openOnWorker("/dev/fakedisk", stop);
        QCOMPARE(out.result, CUDisks2Opener::Result::Opened);
        QCOMPARE(manager.askedPath, QString("/dev/fakedisk"));
        QCOMPARE(block.askedMode, QString("r"));
        QVERIFY(block.interactive); // polkit may ask for the password
        struct stat a {
        }, b{};
        ::stat(file.c_str(), &a);
        QCOMPARE(::fstat(out.fd, &b), 0);
        QCOMPARE(a.st_ino, b.st_ino);
        QCOMPARE(::fcntl(out.fd, F_GETFL) & O_ACCMODE, O_RDONLY);
        ::close(out.fd);

        // The user dismissed the password prompt.
        block.behaviour = CFakeBlock::Refuse;
        out = openOnWorker("/dev/fakedisk", stop);
        QCOMPARE(out.result, CUDisks2Opener::Result::Failed);
        QCOMPARE(out.fd, -1);
        QCOMPARE(out.error, std::string("Not authorized"));

        // The scan is abandoned while the prompt is still open.
        block.behaviour = CFakeBlock::NeverAnswer;
        stop = false;
        out = openOnWorker("/dev/fakedisk", stop, 300);
        QCOMPARE(out.result, CUDisks2Opener::Result::Failed);
        QCOMPARE(out.error, std::string("cancelled"));

        service.unregisterService("org.freedesktop.UDisks2");
        QDBusConnection::disconnectFromBus("fake-udisks");
    }

private:
    QProcess bus;
    QString address;
};

QTEST_GUILESS_MAIN(TestAppUDisks)
#include "UDisks2OpenerTest.moc"

#include "privilege/CUDisks2Opener.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingCall>
#include <QDBusPendingCallWatcher>
#include <QDBusUnixFileDescriptor>
#include <QEventLoop>
#include <QTimer>
#include <QVariantMap>

#include <cctype>
#include <cstdio>
#include <fcntl.h>
#include <filesystem>

namespace {

const char* const kService = "org.freedesktop.UDisks2";
// The password prompt can take a while.
const int kCallTimeoutMs = 10 * 60 * 1000;

bool serviceMissing(const QDBusMessage& reply) {
    const QString name = reply.errorName();
    return name == "org.freedesktop.DBus.Error.ServiceUnknown" ||
           name == "org.freedesktop.DBus.Error.NameHasNoOwner" ||
           name == "org.freedesktop.DBus.Error.Spawn.ServiceNotFound";
}

// Sends the call and waits for its reply; an empty message when stopped.
QDBusMessage callAndWait(QDBusConnection& bus, const QDBusMessage& call,
                         const std::atomic<bool>& stop) {
    QDBusPendingCall pending = bus.asyncCall(call, kCallTimeoutMs);
    QEventLoop loop;
    QDBusPendingCallWatcher watcher(pending);
    QObject::connect(&watcher, &QDBusPendingCallWatcher::finished, &loop, &QEventLoop::quit);
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (stop.load())
            loop.quit();
    });
    poll.start(100);
    if (!pending.isFinished())
        loop.exec();
    if (!pending.isFinished())
        return QDBusMessage();
    return pending.reply();
}

} // namespace

std::string CUDisks2Opener::objectPathFor(const std::string& deviceName) {
    std::string path = "/org/freedesktop/UDisks2/block_devices/";
    for (unsigned char c : deviceName) {
        if (std::isalnum(c)) {
            path += char(c);
        } else {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "_%02x", c);
            path += escaped;
        }
    }
    return path;
}

CUDisks2Opener::Result CUDisks2Opener::open(const std::string& devicePath,
                                            const std::atomic<bool>& stop, int& fd,
                                            std::string& error) {
    fd = -1;
    QDBusConnection bus = QDBusConnection::systemBus();
    if (!bus.isConnected()) {
        error = "no system bus";
        return Result::Unavailable;
    }

    // Which udisks2 object is the device.
    QString objectPath;
    QDBusMessage resolve =
        QDBusMessage::createMethodCall(kService, "/org/freedesktop/UDisks2/Manager",
                                       "org.freedesktop.UDisks2.Manager", "ResolveDevice");
    QVariantMap devspec;
    devspec.insert("path", QString::fromStdString(devicePath));
    resolve << devspec << QVariantMap();
    const QDBusMessage resolved = callAndWait(bus, resolve, stop);
    if (stop.load()) {
        error = "cancelled";
        return Result::Failed;
    }
    if (resolved.type() == QDBusMessage::ErrorMessage && serviceMissing(resolved)) {
        error = resolved.errorMessage().toStdString();
        return Result::Unavailable;
    }
    if (resolved.type() == QDBusMessage::ReplyMessage && !resolved.arguments().isEmpty()) {
        const auto paths =
            qdbus_cast<QList<QDBusObjectPath>>(resolved.arguments().at(0).value<QDBusArgument>());
        if (!paths.isEmpty())
            objectPath = paths.first().path();
    }
    if (objectPath.isEmpty()) {
        // udisks2 before 2.7.3 has no ResolveDevice: name the object directly.
        std::error_code ec;
        const auto real = std::filesystem::canonical(devicePath, ec);
        const std::string name =
            (ec ? std::filesystem::path(devicePath) : real).filename().string();
        objectPath = QString::fromStdString(objectPathFor(name));
    }

    QDBusMessage openCall = QDBusMessage::createMethodCall(
        kService, objectPath, "org.freedesktop.UDisks2.Block", "OpenDevice");
    openCall << QString("r") << QVariantMap();
    openCall.setInteractiveAuthorizationAllowed(true);
    const QDBusMessage opened = callAndWait(bus, openCall, stop);
    if (stop.load()) {
        error = "cancelled";
        return Result::Failed;
    }
    if (opened.type() != QDBusMessage::ReplyMessage || opened.arguments().isEmpty()) {
        error = opened.errorMessage().toStdString();
        if (error.empty())
            error = "udisks2 gave no answer";
        return serviceMissing(opened) ? Result::Unavailable : Result::Failed;
    }
    const auto handle = opened.arguments().at(0).value<QDBusUnixFileDescriptor>();
    if (!handle.isValid()) {
        error = "udisks2 returned no descriptor";
        return Result::Failed;
    }
    // The handle closes its own copy.
    fd = ::fcntl(handle.fileDescriptor(), F_DUPFD_CLOEXEC, 0);
    if (fd < 0) {
        error = "cannot keep the descriptor";
        return Result::Failed;
    }
    return Result::Opened;
}

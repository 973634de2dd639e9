#pragma once

#include <QCoreApplication>
#include <QString>

// The publisher's names and lines that the dialogs show.
class CPublisher {
public:
    static constexpr const char* kShortName = "Vallora";
    static constexpr const char* kDisplayName = QT_TRANSLATE_NOOP("CPublisher", "Vallora 照片恢复");
    static constexpr const char* kCaptionVersion = "v2.1";
    static constexpr const char* kAboutVersion = QT_TRANSLATE_NOOP("CPublisher", "，1.2 版");
    static constexpr const char* kAboutNotice =
        QT_TRANSLATE_NOOP("CPublisher", "免费软件，只读扫描，不改动被扫描的盘");
    static constexpr const char* kStatusNotice =
        QT_TRANSLATE_NOOP("CPublisher", "请勿向要扫描的盘写入文件");
    static constexpr const char* kStatusMail =
        QT_TRANSLATE_NOOP("CPublisher", "邮箱: support@vallora.example");
    static constexpr const char* kStatusMessenger = "QQ: 10000";
    // The settings key the program names at start-up; nothing is stored.
    static constexpr const char* kSettingsKey = "应用程序向导生成的本地应用程序";

    // One of the lines above in the user's language.
    static QString text(const char* line) {
        return QCoreApplication::translate("CPublisher", line);
    }
};

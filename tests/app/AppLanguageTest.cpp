// The program speaks the user's language: its own Chinese texts for Chinese,
// English for every other language, with Qt's own buttons to match.
#include "CFakePrompts.h"
#include "CTempDir.h"
#include "app/CEngineText.h"
#include "app/CExplorer1.h"
#include "app/CValloraApp.h"
#include "app/CValloraDlg.h"

#include <QMessageBox>
#include <QPushButton>
#include <QTest>

class TestAppLanguage : public QObject {
    Q_OBJECT

private slots:
    void languageFollowsTheLocale_data() {
        QTest::addColumn<QString>("locale");
        QTest::addColumn<QString>("start");
        QTest::addColumn<QString>("yes");
        QTest::addRow("Chinese") << "zh_CN"
                                 << "开始扫描"
                                 << "是(&Y)";
        QTest::addRow("English") << "en_GB"
                                 << "Start scan"
                                 << "&Yes";
        QTest::addRow("another language") << "de_DE"
                                          << "Start scan"
                                          << "&Yes";
    }
    void languageFollowsTheLocale() {
        QFETCH(QString, locale);
        QFETCH(QString, start);
        QFETCH(QString, yes);
        QVERIFY(CValloraApp::installTranslations(QLocale(locale)));
        CFakePrompts prompts;
        CTempDir machine;
        CValloraDlg dialog(&prompts, CDriveList(machine.path() + "/sys", machine.path()), QUrl());
        QCOMPARE(dialog.findChild<QPushButton*>("startButton")->text(), start);
        // Qt's standard buttons speak the same language.
        QMessageBox box(QMessageBox::Question, "", "", QMessageBox::Yes | QMessageBox::No);
        QCOMPARE(box.button(QMessageBox::Yes)->text(), yes);
    }

    void engineTextsAreTranslatedPieceByPiece() {
        QVERIFY(CValloraApp::installTranslations(QLocale("en_US")));
        const struct {
            const char* engine;
            const char* shown;
        } cases[] = {
            {"用时3秒,成功恢复8个文件", "3 seconds, 8 files recovered"},
            {"用时12秒,成功恢复1个文件\n扫描未完成:已扫描40001个扇区,共100000个扇区(40.00%)",
             "12 seconds, 1 files recovered\nThe sweep did not finish: 40001 of 100000 sectors "
             "swept (40.00%)"},
            {"用时0秒,成功恢复3个文件,其中2个因同名文件已存在而另存新名,1个已存在相同文件,"
             "未重复写入",
             "0 seconds, 3 files recovered; 2 saved under a new name because the name was taken; "
             "1 were there already and not written again"},
            {"正在搜索card 1.img盘文件", "Searching card 1.img"},
            {"已扫描:6127616个扇区", "Swept: 6127616 sectors"},
            {"39.47%", "39.47%"},               // numbers only: as they are
            {"something new", "something new"}, // no pattern: as it is
            {"扫描完成 and more", "Scan complete and more"},
        };
        for (const auto& c : cases)
            QCOMPARE(CEngineText::translate(c.engine), QString::fromUtf8(c.shown));
        QVERIFY(CExplorer1::offlineText().startsWith("Vallora only reads"));

        // In Chinese the engine's texts are shown as made.
        QVERIFY(CValloraApp::installTranslations(QLocale("zh_TW")));
        QCOMPARE(CEngineText::translate("用时3秒,成功恢复8个文件"),
                 QString("用时3秒,成功恢复8个文件"));
    }
};

QTEST_MAIN(TestAppLanguage)
#include "AppLanguageTest.moc"

// The web page pane: one navigation at start, and a dead address that
// leaves the dialog usable.
#include "CFakePrompts.h"
#include "CTempDir.h"
#include "app/CExplorer1.h"
#include "app/CValloraDlg.h"
#include "platform/CDriveList.h"

#include <QElapsedTimer>
#include <QLineEdit>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>

// Serves one page over HTTP on 127.0.0.1 and counts the requests.
class CPageServer : public QObject {
public:
    explicit CPageServer(QByteArray body) : page(std::move(body)) {
        server.listen(QHostAddress::LocalHost, 0);
        connect(&server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket* socket = server.nextPendingConnection()) {
                connect(socket, &QTcpSocket::readyRead, socket, [this, socket] {
                    request += socket->readAll();
                    if (!request.contains("\r\n\r\n"))
                        return;
                    paths << request.split(' ').value(1);
                    request.clear();
                    socket->write("HTTP/1.1 200 OK\r\nContent-Type: text/html; charset=utf-8\r\n"
                                  "Connection: close\r\nContent-Length: " +
                                  QByteArray::number(page.size()) + "\r\n\r\n" + page);
                    socket->disconnectFromHost();
                });
            }
        });
    }
    QUrl address(const char* path) const {
        return QUrl(QString("http://127.0.0.1:%1%2").arg(server.serverPort()).arg(path));
    }
    QByteArrayList paths;

private:
    QTcpServer server;
    QByteArray page;
    QByteArray request;
};

class TestAppWebPane : public QObject {
    Q_OBJECT

private slots:
    void navigatesOnceAtStart() {
        CPageServer server("<html><body><p>最新消息: 照片恢复</p>"
                           "<script>document.write('scripted')</script></body></html>");
        CFakePrompts prompts;
        CTempDir machine;
        CValloraDlg dialog(&prompts, CDriveList(machine.path() + "/sys", machine.path()),
                           server.address("/vallora/photo.html"));
        dialog.show();
        QCOMPARE(dialog.webPane()->navigationCount(), 1);
        QTRY_VERIFY(dialog.webPane()->toPlainText().contains("最新消息: 照片恢复"));
        QVERIFY(!dialog.webPane()->toPlainText().contains("scripted"));
        QTest::qWait(200);
        QCOMPARE(server.paths, QByteArrayList{"/vallora/photo.html"});
        QCOMPARE(dialog.webPane()->navigationCount(), 1);
    }

    void deadAddressLeavesDialogUsable() {
        // Port 1 on the loopback: nothing listens there.
        CFakePrompts prompts;
        CTempDir machine;
        QElapsedTimer timer;
        timer.start();
        CValloraDlg dialog(&prompts, CDriveList(machine.path() + "/sys", machine.path()),
                           QUrl("http://127.0.0.1:1/vallora/photo.html"));
        dialog.show();
        QVERIFY(timer.elapsed() < 5000); // the navigation does not hold the dialog
        QSignalSpy finished(dialog.webPane(), &CExplorer1::pageFinished);
        QTRY_COMPARE(finished.count(), 1);
        QCOMPARE(finished.first().first().toBool(), false);
        QCOMPARE(dialog.webPane()->toPlainText(), CExplorer1::offlineText());
        // The dialog still works.
        prompts.folderToPick = QString::fromStdString(machine.path());
        dialog.OnBnClickedBrowse();
        QCOMPARE(dialog.outputEdit()->text(), prompts.folderToPick);
        QVERIFY(dialog.isVisible());
    }

    void nothingButWebAddressesIsFetched() {
        CExplorer1 pane;
        QSignalSpy finished(&pane, &CExplorer1::pageFinished);
        pane.Navigate(QUrl::fromLocalFile("/etc/hostname"));
        QCOMPARE(finished.count(), 1);
        QCOMPARE(finished.first().first().toBool(), false);
        QCOMPARE(pane.toPlainText(), CExplorer1::offlineText());
    }
};

QTEST_MAIN(TestAppWebPane)
#include "AppWebPaneTest.moc"

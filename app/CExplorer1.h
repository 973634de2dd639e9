#pragma once

#include <QTextBrowser>
#include <QUrl>

#include <set>

class QNetworkAccessManager;
class QNetworkReply;

// The web page pane: shows one page fetched from the publisher's server.
// It renders plain HTML and pictures only (no scripts, no plug-ins), never
// waits for the network on the UI thread, and shows a short local text when
// the page cannot be fetched. Links open in the user's web browser.
class CExplorer1 : public QTextBrowser {
    Q_OBJECT
public:
    static constexpr qint64 kMaxPageBytes = 1 << 20;
    static constexpr qint64 kMaxImageBytes = 4 << 20;
    static constexpr int kMaxImages = 16;

    explicit CExplorer1(QWidget* parent = nullptr);

    // Starts fetching the page at address; returns at once.
    void Navigate(const QUrl& address);
    int navigationCount() const { return navigations; }
    // What the pane shows when the page cannot be fetched.
    static QString offlineText();

signals:
    // The page was shown (ok) or could not be fetched.
    void pageFinished(bool ok);

protected:
    QVariant loadResource(int type, const QUrl& name) override;

private:
    void pageArrived(QNetworkReply* reply);
    void imageArrived(QNetworkReply* reply, const QUrl& name);
    static bool fetchable(const QUrl& url);
    void showOffline();

    QNetworkAccessManager* network;
    QUrl pageAddress;
    std::set<QString> requestedImages;
    int navigations = 0;
};

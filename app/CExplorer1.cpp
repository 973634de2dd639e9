#include "app/CExplorer1.h"

#include <QDesktopServices>
#include <QImage>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QStringDecoder>
#include <QTextDocument>

namespace {

const int kTransferTimeoutMs = 20000;

QNetworkRequest requestFor(const QUrl& url) {
    QNetworkRequest request(url);
    request.setTransferTimeout(kTransferTimeoutMs);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                         QNetworkRequest::NoLessSafeRedirectPolicy);
    request.setHeader(QNetworkRequest::UserAgentHeader, QStringLiteral("Vallora"));
    return request;
}

// Stops a reply that announces or delivers more than limit bytes.
void limitSize(QNetworkReply* reply, qint64 limit) {
    QObject::connect(reply, &QNetworkReply::downloadProgress, reply,
                     [reply, limit](qint64 received, qint64 total) {
                         if (received > limit || total > limit)
                             reply->abort();
                     });
}

} // namespace

CExplorer1::CExplorer1(QWidget* parent)
    : QTextBrowser(parent), network(new QNetworkAccessManager(this)) {
    setOpenLinks(false);
    setOpenExternalLinks(false);
    setFrameShape(QFrame::StyledPanel);
    connect(this, &QTextBrowser::anchorClicked, this, [](const QUrl& link) {
        if (link.scheme() == "http" || link.scheme() == "https")
            QDesktopServices::openUrl(link);
    });
}

bool CExplorer1::fetchable(const QUrl& url) {
    return url.isValid() && (url.scheme() == "http" || url.scheme() == "https");
}

void CExplorer1::Navigate(const QUrl& address) {
    ++navigations;
    pageAddress = address;
    if (!fetchable(address)) {
        showOffline();
        emit pageFinished(false);
        return;
    }
    QNetworkReply* reply = network->get(requestFor(address));
    limitSize(reply, kMaxPageBytes);
    connect(reply, &QNetworkReply::finished, this, [this, reply] { pageArrived(reply); });
}

void CExplorer1::pageArrived(QNetworkReply* reply) {
    reply->deleteLater();
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (reply->error() != QNetworkReply::NoError || status != 200) {
        showOffline(); // offline or no such page
        emit pageFinished(false);
        return;
    }
    const QByteArray body = reply->readAll().left(kMaxPageBytes);
    const QString contentType = reply->header(QNetworkRequest::ContentTypeHeader).toString();
    // The charset the server names, else what the page says of itself.
    QStringDecoder decode;
    const int at = contentType.indexOf("charset=", 0, Qt::CaseInsensitive);
    if (at >= 0) {
        QString name = contentType.mid(at + 8).section(';', 0, 0).trimmed();
        name.remove('"');
        decode = QStringDecoder(name.toLatin1().constData());
    }
    if (!decode.isValid())
        decode = QStringDecoder(
            QStringConverter::encodingForHtml(body).value_or(QStringConverter::Utf8));
    const QString text = decode(body);
    document()->setBaseUrl(reply->url());
    if (contentType.startsWith("text/plain", Qt::CaseInsensitive))
        setPlainText(text);
    else
        setHtml(text);
    emit pageFinished(true);
}

QString CExplorer1::offlineText() {
    return tr("Vallora 只读取要扫描的盘,从不写入。请把恢复的照片保存到另一个盘上。\n"
              "(无法连接网络,这里的消息页面暂时不能显示。)");
}

void CExplorer1::showOffline() {
    document()->setBaseUrl(QUrl());
    setPlainText(offlineText());
}

QVariant CExplorer1::loadResource(int type, const QUrl& name) {
    // Nothing is read from local files or resources on behalf of the page.
    if (type != QTextDocument::ImageResource)
        return QVariant();
    const QUrl url = document()->baseUrl().resolved(name);
    if (!fetchable(url) || int(requestedImages.size()) >= kMaxImages ||
        !requestedImages.insert(url.toString()).second)
        return QVariant();
    QNetworkReply* reply = network->get(requestFor(url));
    limitSize(reply, kMaxImageBytes);
    connect(reply, &QNetworkReply::finished, this,
            [this, reply, name] { imageArrived(reply, name); });
    return QVariant();
}

void CExplorer1::imageArrived(QNetworkReply* reply, const QUrl& name) {
    reply->deleteLater();
    if (reply->error() != QNetworkReply::NoError)
        return;
    QImage image;
    if (!image.loadFromData(reply->readAll()))
        return;
    document()->addResource(QTextDocument::ImageResource, name, image);
    // Lay the page out again with the picture in place.
    document()->markContentsDirty(0, document()->characterCount());
}

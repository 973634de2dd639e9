#include "app/CAboutDlg.h"

#include "app/CPublisher.h"
#include "app/CValloraApp.h"
#include "ui_CAboutDlg.h"

#include <QIcon>
#include <QLayout>

CAboutDlg::CAboutDlg(QWidget* parent) : QDialog(parent), ui(std::make_unique<Ui::CAboutDlg>()) {
    CValloraApp::initResources();
    ui->setupUi(this);
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowCloseButtonHint);
    layout()->setSizeConstraint(QLayout::SetFixedSize); // as large as its texts
    setWindowTitle(tr("关于 %1").arg(QString::fromUtf8(CPublisher::kShortName)));
    ui->iconLabel->setPixmap(QIcon(":/vallora/vallora.png").pixmap(32, 32));
    ui->versionLabel->setText(QString::fromUtf8(CPublisher::kShortName) +
                              CPublisher::text(CPublisher::kAboutVersion));
    ui->noticeLabel->setText(CPublisher::text(CPublisher::kAboutNotice));
}

CAboutDlg::~CAboutDlg() = default;

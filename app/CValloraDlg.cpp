#include "app/CValloraDlg.h"

#include "app/CAboutDlg.h"
#include "app/CDriveCombo.h"
#include "app/CExplorer1.h"
#include "app/CPublisher.h"
#include "app/CScanDig.h"
#include "app/CUserPrompts.h"
#include "app/CValloraApp.h"
#include "platform/CBlockTopology.h"
#include "ui_CValloraDlg.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QShortcut>
#include <QStandardPaths>
#include <QStatusBar>
#include <QToolButton>

#include <sys/stat.h>
#include <unistd.h>

#ifndef VALLORA_WEB_PAGE_URL
#define VALLORA_WEB_PAGE_URL "https://www.vallora.example/vallora/photo.html"
#endif

namespace {

const int kKindRole = Qt::UserRole + 1;

bool writableFolder(const QString& path) {
    return !path.isEmpty() && QFileInfo(path).isDir() &&
           ::access(QFile::encodeName(path).constData(), W_OK | X_OK) == 0;
}

QString aboutEntryText() {
    return QStringLiteral("关于 Vallora(&A)...");
}

} // namespace

CValloraDlg::CValloraDlg(CUserPrompts* prompts, CDriveList drives, QUrl pageAddress)
    : QDialog(nullptr), ui(std::make_unique<Ui::CValloraDlg>()), prompts(prompts),
      driveList(std::move(drives)), pageAddress(std::move(pageAddress)) {
    CValloraApp::initResources();
    appIcon = QIcon(QStringLiteral(":/vallora/vallora.png"));
    if (!this->prompts) {
        ownPrompts = std::make_unique<CUserPrompts>();
        this->prompts = ownPrompts.get();
    }
    ui->setupUi(this);
    setWindowTitle(QString::fromUtf8(CPublisher::kDisplayName) +
                   QString::fromUtf8(CPublisher::kCaptionVersion));
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
    setFixedSize(size());
    connect(ui->browseButton, &QPushButton::clicked, this, &CValloraDlg::OnBnClickedBrowse);
    connect(ui->openFolderButton, &QPushButton::clicked, this, &CValloraDlg::OnBnClickedOpenFolder);
    connect(ui->startButton, &QPushButton::clicked, this, &CValloraDlg::OnBnClickedStartScan);
    connect(ui->driveCombo, &CDriveCombo::aboutToDropDown, this, &CValloraDlg::FillDriveList);
    connect(ui->driveCombo, &QComboBox::activated, this, &CValloraDlg::onDriveActivated);
    OnInitDialog();
}

CValloraDlg::~CValloraDlg() {
    // Scan dialogs are children: each waits for its worker as it goes.
    delete scanDialogPtr.data();
}

QUrl CValloraDlg::defaultPageAddress() {
    return QUrl(QStringLiteral(VALLORA_WEB_PAGE_URL));
}

const QString& CValloraDlg::sameDriveText() {
    static const QString text =
        QStringLiteral("扫描的分区和存放恢复后文件的盘符不能是同一盘符,请选择其它盘!");
    return text;
}

QString CValloraDlg::initialOutputFolder() {
    const QString own = QCoreApplication::applicationDirPath();
    if (writableFolder(own))
        return own;
    const QString pictures = QStandardPaths::writableLocation(QStandardPaths::PicturesLocation);
    if (writableFolder(pictures))
        return pictures;
    return QDir::homePath();
}

void CValloraDlg::OnInitDialog() {
    // The About entry: the window manager owns the system menu, so it sits
    // in the dialog's context menu, on F1 and in the status bar.
    auto* about = new QShortcut(QKeySequence::HelpContents, this);
    connect(about, &QShortcut::activated, this, &CValloraDlg::showAbout);

    setWindowIcon(appIcon);
    ui->webPane->Navigate(pageAddress);
    createStatusBar();
    FillDriveList();
    outputFolderPath = initialOutputFolder();
    ui->outputEdit->setText(outputFolderPath);
    scanDialogPtr = nullptr;
    ui->driveCombo->setFocus();
}

void CValloraDlg::createStatusBar() {
    statusBarWidget = new QStatusBar(this);
    statusBarWidget->setSizeGripEnabled(false);
    statusBarWidget->setGeometry(0, height() - 24, width(), 24);
    // Parts end at 60, 250 and 560 pixels; the fourth takes the rest.
    auto* aboutButton = new QToolButton(statusBarWidget);
    aboutButton->setText(QStringLiteral("关于"));
    aboutButton->setToolTip(aboutEntryText().remove('&'));
    aboutButton->setAutoRaise(true);
    aboutButton->setFixedWidth(56);
    connect(aboutButton, &QToolButton::clicked, this, &CValloraDlg::showAbout);
    statusBarWidget->addWidget(aboutButton);
    const struct {
        const char* text;
        int width;
    } parts[] = {{CPublisher::kStatusNotice, 190},
                 {CPublisher::kStatusMail, 310},
                 {CPublisher::kStatusMessenger, 0}};
    for (const auto& part : parts) {
        auto* label = new QLabel(QString::fromUtf8(part.text), statusBarWidget);
        if (part.width)
            label->setFixedWidth(part.width - 6);
        statusBarWidget->addWidget(label, part.width ? 0 : 1);
    }
}

CDriveCombo* CValloraDlg::driveCombo() const {
    return ui->driveCombo;
}
QLineEdit* CValloraDlg::outputEdit() const {
    return ui->outputEdit;
}
CExplorer1* CValloraDlg::webPane() const {
    return ui->webPane;
}
CScanDig* CValloraDlg::scanDialog() const {
    return scanDialogPtr.data();
}

void CValloraDlg::FillDriveList() {
    CDriveCombo* combo = ui->driveCombo;
    combo->clear();
    drives = driveList.list();
    for (size_t i = 0; i < drives.size(); ++i) {
        combo->addItem(QString::fromStdString(CDriveList::displayText(drives[i])),
                       QString::fromStdString(drives[i].devicePath));
        combo->setItemData(combo->count() - 1, DeviceEntry, kKindRole);
    }
    for (const QString& image : imageFiles) {
        combo->addItem(QStringLiteral("映像文件 ") + image, image);
        combo->setItemData(combo->count() - 1, ImageEntry, kKindRole);
    }
    const int entries = combo->count();
    combo->addItem(QStringLiteral("选择磁盘映像文件..."));
    combo->setItemData(combo->count() - 1, ChooseImageEntry, kKindRole);
    combo->setCurrentIndex(entries > 0 ? 0 : -1);
}

void CValloraDlg::onDriveActivated(int index) {
    CDriveCombo* combo = ui->driveCombo;
    if (combo->itemData(index, kKindRole).toInt() != ChooseImageEntry)
        return;
    const QString start =
        imageFiles.empty() ? QDir::homePath() : QFileInfo(imageFiles.back()).absolutePath();
    const QString image = prompts->pickImageFile(start);
    if (image.isEmpty()) {
        combo->setCurrentIndex(combo->count() > 1 ? 0 : -1);
        return;
    }
    const QString path = QFileInfo(image).absoluteFilePath();
    if (std::find(imageFiles.begin(), imageFiles.end(), path) == imageFiles.end())
        imageFiles.push_back(path);
    FillDriveList();
    combo->setCurrentIndex(combo->findData(path));
}

tagScanSource CValloraDlg::selectedSource() const {
    tagScanSource source;
    const CDriveCombo* combo = ui->driveCombo;
    const int index = combo->currentIndex();
    if (index < 0)
        return source;
    const int kind = combo->itemData(index, kKindRole).toInt();
    const QString path = combo->itemData(index).toString();
    if (kind == DeviceEntry) {
        source.path = QFile::encodeName(path).toStdString();
        source.name = QFileInfo(path).fileName().toStdString();
    } else if (kind == ImageEntry) {
        source.path = QFile::encodeName(path).toStdString();
        source.name = QFileInfo(path).fileName().toStdString();
        source.imageFile = true;
    }
    return source;
}

bool CValloraDlg::onSelectedDrive(const QString& folder) const {
    const CDriveCombo* combo = ui->driveCombo;
    const int index = combo->currentIndex();
    if (index < 0 || combo->itemData(index, kKindRole).toInt() != DeviceEntry)
        return false; // an image file is not the scanned volume
    const std::string device = QFile::encodeName(combo->itemData(index).toString()).toStdString();
    dev_t deviceNumber = 0;
    for (const tagDriveEntry& entry : drives)
        if (entry.devicePath == device)
            deviceNumber = entry.deviceNumber;
    struct stat st {};
    if (deviceNumber == 0 || folder.isEmpty() ||
        ::stat(QFile::encodeName(folder).constData(), &st) != 0)
        return false; // a folder that is not there cannot be written to
    return CBlockTopology(driveList.sysfsRoot()).sharesDisk(st.st_dev, deviceNumber);
}

void CValloraDlg::OnBnClickedBrowse() {
    const QString chosen = prompts->pickFolder(outputFolderPath);
    if (!chosen.isEmpty()) {
        if (onSelectedDrive(chosen)) {
            prompts->message(this, sameDriveText(), QCoreApplication::applicationName());
            return; // the folder and the edit box stay as they were
        }
        outputFolderPath = chosen;
    }
    ui->outputEdit->setText(outputFolderPath);
}

void CValloraDlg::OnBnClickedOpenFolder() {
    prompts->openFolder(outputFolderPath);
}

void CValloraDlg::OnBnClickedStartScan() {
    outputFolderPath = ui->outputEdit->text();
    // A typed path gets the same check as a picked one: writing on the
    // scanned disk would overwrite the photos being recovered.
    if (onSelectedDrive(outputFolderPath)) {
        prompts->message(this, sameDriveText(), QCoreApplication::applicationName());
        return;
    }
    hide();
    std::shared_future<void> previousWorker;
    if (scanDialogPtr) {
        previousWorker = scanDialogPtr->workerDone();
        scanDialogPtr->retire();
        scanDialogPtr = nullptr;
    }
    auto* dialog =
        new CScanDig(this, selectedSource(), QFile::encodeName(outputFolderPath).toStdString(),
                     prompts, previousWorker);
    scanDialogPtr = dialog;
    connect(dialog, &CScanDig::programEndRequested, this, &CValloraDlg::programEndRequested);
    dialog->OnInitDialog();
    dialog->show();
}

void CValloraDlg::showAbout() {
    CAboutDlg about(this);
    about.exec();
}

void CValloraDlg::closeEvent(QCloseEvent* event) {
    delete scanDialogPtr.data();
    QDialog::closeEvent(event);
}

void CValloraDlg::keyPressEvent(QKeyEvent* event) {
    // Enter ends the dialog as Esc does.
    if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) &&
        (event->modifiers() & ~Qt::KeypadModifier) == 0) {
        accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

void CValloraDlg::contextMenuEvent(QContextMenuEvent* event) {
    QMenu menu(this);
    menu.addSeparator();
    menu.addAction(aboutEntryText(), this, &CValloraDlg::showAbout);
    menu.exec(event->globalPos());
}

#include "app/CValloraDlg.h"

#include "app/CAboutDlg.h"
#include "app/CDriveCombo.h"
#include "app/CExplorer1.h"
#include "app/CPublisher.h"
#include "app/CScanDig.h"
#include "app/CUserPrompts.h"
#include "app/CValloraApp.h"
#include "platform/COutputFolder.h"
#include "ui_CValloraDlg.h"

#include <QAbstractItemView>
#include <QCheckBox>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QScreen>
#include <QShortcut>
#include <QStandardPaths>
#include <QStatusBar>
#include <QTimer>
#include <QToolButton>

#include <sys/stat.h>
#include <unistd.h>

#ifndef VALLORA_WEB_PAGE_URL
#define VALLORA_WEB_PAGE_URL "https://www.vallora.example/vallora/photo.html"
#endif

namespace {

const int kKindRole = Qt::UserRole + 1;

QString aboutEntryText() {
    return QCoreApplication::translate("CValloraDlg", "关于 Vallora(&A)...");
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
    setWindowTitle(CPublisher::text(CPublisher::kDisplayName) +
                   QString::fromUtf8(CPublisher::kCaptionVersion));
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinMaxButtonsHint | Qt::WindowCloseButtonHint);
    // Never larger than the screen (a small one, or one scaled up).
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        resize(size().boundedTo(screen->availableSize()));
    connect(ui->browseButton, &QPushButton::clicked, this, &CValloraDlg::OnBnClickedBrowse);
    connect(ui->openFolderButton, &QPushButton::clicked, this, &CValloraDlg::OnBnClickedOpenFolder);
    connect(ui->startButton, &QPushButton::clicked, this, &CValloraDlg::OnBnClickedStartScan);
    // Partial files are a matter of the thorough mode only.
    connect(ui->thoroughCheck, &QCheckBox::toggled, ui->keepPartialCheck, &QWidget::setEnabled);
    connect(ui->driveCombo, &CDriveCombo::aboutToDropDown, this, &CValloraDlg::FillDriveList);
    connect(ui->driveCombo, &QComboBox::activated, this, &CValloraDlg::onDriveActivated);
    connect(ui->outputEdit, &QLineEdit::textChanged, ui->outputEdit,
            [edit = ui->outputEdit](const QString& text) { edit->setToolTip(text); });
    OnInitDialog();
}

CValloraDlg::~CValloraDlg() {
    // Scan dialogs are children: each waits for its worker as it goes.
    delete scanDialogPtr.data();
}

QUrl CValloraDlg::defaultPageAddress() {
    return QUrl(QStringLiteral(VALLORA_WEB_PAGE_URL));
}

void CValloraDlg::setSourceOpener(CScanDig::OpenFunction opener) {
    sourceOpener = std::move(opener);
}

QString CValloraDlg::sameDriveText() {
    return tr("扫描的分区和存放恢复后文件的盘符不能是同一盘符,请选择其它盘!");
}

QString CValloraDlg::initialOutputFolder() {
    QString pictures = QStandardPaths::writableLocation(QStandardPaths::PicturesLocation);
    if (pictures.isEmpty())
        pictures = QDir::homePath();
    return QDir(pictures).filePath(QStringLiteral("Vallora"));
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
    drivesTimer = new QTimer(this);
    connect(drivesTimer, &QTimer::timeout, this, &CValloraDlg::refreshDrivesIfChanged);
    drivesTimer->start(kDrivesPollMs);
    outputFolderPath = initialOutputFolder();
    ui->outputEdit->setText(outputFolderPath);
    scanDialogPtr = nullptr;
    ui->driveCombo->setFocus();
}

void CValloraDlg::createStatusBar() {
    statusBarWidget = new QStatusBar(this);
    statusBarWidget->setSizeGripEnabled(true);
    ui->mainLayout->addWidget(statusBarWidget);
    // The About button, then the notice, the mail address and the messenger
    // number, each as wide as its text; the last takes the rest.
    auto* aboutButton = new QToolButton(statusBarWidget);
    aboutButton->setText(tr("关于"));
    aboutButton->setToolTip(aboutEntryText().remove('&'));
    aboutButton->setAutoRaise(true);
    aboutButton->setMinimumWidth(56);
    connect(aboutButton, &QToolButton::clicked, this, &CValloraDlg::showAbout);
    statusBarWidget->addWidget(aboutButton);
    const struct {
        const char* text;
        int stretch;
    } parts[] = {{CPublisher::kStatusNotice, 0},
                 {CPublisher::kStatusMail, 0},
                 {CPublisher::kStatusMessenger, 1}};
    for (const auto& part : parts) {
        auto* label = new QLabel(CPublisher::text(part.text), statusBarWidget);
        statusBarWidget->addWidget(label, part.stretch);
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
    fillDriveList(QString());
}

void CValloraDlg::fillDriveList(const QString& keep) {
    CDriveCombo* combo = ui->driveCombo;
    combo->clear();
    drives = driveList.list();
    knownDrives = driveList.fingerprint();
    const tagDriveWords words{tr("(可移动)").toStdString(), tr("(系统盘)").toStdString(),
                              tr("挂载于").toStdString(), tr("映像").toStdString()};
    int first = -1; // the first entry that is not on the system's disk
    for (size_t i = 0; i < drives.size(); ++i) {
        const QString text = QString::fromStdString(CDriveList::displayText(drives[i], words));
        combo->addItem(text, QString::fromStdString(drives[i].devicePath));
        combo->setItemData(combo->count() - 1, DeviceEntry, kKindRole);
        combo->setItemData(combo->count() - 1, text, Qt::ToolTipRole);
        if (first < 0 && !drives[i].systemDisk)
            first = combo->count() - 1;
    }
    for (const QString& image : imageFiles) {
        // A long path keeps its file name in view; the tooltip has it whole.
        const QString shown = fontMetrics().elidedText(image, Qt::ElideMiddle, kImagePathWidth);
        combo->addItem(tr("映像文件 %1").arg(shown), image);
        combo->setItemData(combo->count() - 1, ImageEntry, kKindRole);
        combo->setItemData(combo->count() - 1, image, Qt::ToolTipRole);
        if (first < 0)
            first = combo->count() - 1;
    }
    combo->addItem(tr("选择磁盘映像文件..."));
    combo->setItemData(combo->count() - 1, ChooseImageEntry, kKindRole);
    // The system's own disk is never chosen for the user.
    const int kept = keep.isEmpty() ? -1 : combo->findData(keep);
    combo->setCurrentIndex(kept >= 0 ? kept : first);
}

void CValloraDlg::refreshDrivesIfChanged() {
    // A card put in or taken out: the list follows, keeping the choice.
    if (ui->driveCombo->view()->isVisible() || driveList.fingerprint() == knownDrives)
        return;
    const int index = ui->driveCombo->currentIndex();
    fillDriveList(index >= 0 ? ui->driveCombo->itemData(index).toString() : QString());
}

void CValloraDlg::onDriveActivated(int index) {
    CDriveCombo* combo = ui->driveCombo;
    if (combo->itemData(index, kKindRole).toInt() != ChooseImageEntry)
        return;
    const QString start =
        imageFiles.empty() ? QDir::homePath() : QFileInfo(imageFiles.back()).absolutePath();
    const QString image = prompts->pickImageFile(start);
    if (image.isEmpty()) {
        FillDriveList();
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
        // A block device picked as a file is still a device (rights, same disk).
        struct stat st {};
        source.imageFile = !(::stat(source.path.c_str(), &st) == 0 && S_ISBLK(st.st_mode));
    }
    return source;
}

bool CValloraDlg::scannedSource(tagScannedSource& scanned) const {
    const CDriveCombo* combo = ui->driveCombo;
    const int index = combo->currentIndex();
    if (index < 0)
        return false;
    const int kind = combo->itemData(index, kKindRole).toInt();
    const std::string path = QFile::encodeName(combo->itemData(index).toString()).toStdString();
    if (kind == DeviceEntry) {
        for (const tagDriveEntry& entry : drives)
            if (entry.devicePath == path && entry.deviceNumber != 0) {
                scanned = tagScannedSource::ofBlockDevice(entry.deviceNumber);
                return true;
            }
        return tagScannedSource::ofPath(path, scanned);
    }
    return kind == ImageEntry && tagScannedSource::ofPath(path, scanned);
}

std::unique_ptr<COutputFolder> CValloraDlg::checkOutputFolder(const QString& folder) const {
    // A source that cannot be examined (an image file gone missing) fails
    // when the scan opens it; the folder still gets the other checks.
    tagScannedSource scanned = tagScannedSource::ofImageFile(0, 0);
    scannedSource(scanned);
    return std::make_unique<COutputFolder>(QFile::encodeName(folder).toStdString(), scanned,
                                           CStorageBacking(driveList.sysfsRoot()));
}

bool CValloraDlg::onSelectedDrive(const QString& folder) const {
    tagScannedSource scanned;
    return !folder.isEmpty() && scannedSource(scanned) &&
           checkOutputFolder(folder)->onScannedData();
}

void CValloraDlg::OnBnClickedBrowse() {
    const QString chosen = prompts->pickFolder(outputFolderPath);
    if (!chosen.isEmpty()) {
        if (onSelectedDrive(chosen)) {
            prompts->message(this, sameDriveText(), CPublisher::text(CPublisher::kDisplayName));
            return; // the folder and the edit box stay as they were
        }
        outputFolderPath = chosen;
    }
    ui->outputEdit->setText(outputFolderPath);
}

void CValloraDlg::OnBnClickedOpenFolder() {
    // The folder in the box, typed or picked.
    const QString folder = ui->outputEdit->text().trimmed();
    if (folder.isEmpty() || !QFileInfo(folder).isDir()) {
        prompts->warning(this, tr("文件夹不存在:%1").arg(folder),
                         CPublisher::text(CPublisher::kDisplayName));
        return;
    }
    prompts->openFolder(folder);
}

void CValloraDlg::OnBnClickedStartScan() {
    outputFolderPath = ui->outputEdit->text().trimmed();
    if (selectedSource().path.empty()) {
        prompts->warning(this, tr("请选择要扫描的盘,或者选择一个磁盘映像文件。"),
                         CPublisher::text(CPublisher::kDisplayName));
        return;
    }
    // The folder offered at start is made when first used.
    if (outputFolderPath == initialOutputFolder())
        QDir().mkpath(outputFolderPath);
    // The folder is checked as the command-line program checks it: there,
    // a folder, writable, and not on the data being scanned, whether it was
    // typed or picked.
    std::shared_ptr<COutputFolder> folder = checkOutputFolder(outputFolderPath);
    const QString caption = CPublisher::text(CPublisher::kDisplayName);
    if (folder->onScannedData()) {
        prompts->message(this, sameDriveText(), caption);
        return;
    }
    if (folder->verdict() == COutputFolder::Verdict::Refused) {
        prompts->warning(this,
                         tr("恢复的文件不能保存到这个文件夹。") + QStringLiteral("\n\n") +
                             QString::fromStdString(folder->reason()),
                         caption);
        return;
    }
    if (folder->verdict() == COutputFolder::Verdict::Undetermined &&
        prompts->question(this,
                          tr("无法确定这个文件夹是否在要扫描的盘上。") + QStringLiteral("\n\n") +
                              QString::fromStdString(folder->reason()) + QStringLiteral("\n\n") +
                              tr("仍然保存到这里吗?"),
                          caption) != CUserPrompts::Answer::Yes)
        return;
    hide();
    std::shared_future<void> previousWorker;
    if (scanDialogPtr) {
        previousWorker = scanDialogPtr->workerDone();
        scanDialogPtr->retire();
        scanDialogPtr = nullptr;
    }
    auto* dialog =
        new CScanDig(this, selectedSource(), QFile::encodeName(outputFolderPath).toStdString(),
                     prompts, previousWorker, sourceOpener);
    dialog->setOutputFolder(std::move(folder));
    dialog->setThorough(ui->thoroughCheck->isChecked(),
                        ui->thoroughCheck->isChecked() && ui->keepPartialCheck->isChecked());
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
    // Escape does not end the program; the close box and the system menu
    // do. Enter presses the focused button, else "开始扫描" (the dialog's).
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
        event->accept();
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

#pragma once

#include "app/CScanDig.h"
#include "platform/CDriveList.h"

#include <QDialog>
#include <QIcon>
#include <QPointer>
#include <QUrl>

#include <memory>
#include <string>
#include <vector>

class CDriveCombo;
class COutputFolder;
struct tagScannedSource;
class CExplorer1;
class CScanDig;
class CUserPrompts;
class QLineEdit;
class QStatusBar;
class QTimer;
struct tagScanSource;
namespace Ui {
class CValloraDlg;
}

// The main dialog: drive list, output folder, start button, the web page
// pane and a status bar. Starting a scan hides it and shows a scan dialog
// that it owns.
class CValloraDlg : public QDialog {
    Q_OBJECT
public:
    // prompts: the boxes and pickers (the program's own when null);
    // drives: where the drive list comes from; pageAddress: the web pane's page.
    explicit CValloraDlg(CUserPrompts* prompts = nullptr, CDriveList drives = CDriveList(),
                         QUrl pageAddress = defaultPageAddress());
    ~CValloraDlg() override;

    static QUrl defaultPageAddress();
    // The folder recovered files go to when the user has chosen none:
    // "Vallora" in the user's pictures folder, made when a scan first uses it.
    static QString initialOutputFolder();
    static QString sameDriveText();

    // Rebuilds the drive list: disks and partitions, the image files chosen
    // so far, and the entry that chooses an image file; selects the first
    // entry that is not on the system's own disk.
    void FillDriveList();
    // Rebuilds the list when disks have come or gone, keeping the choice.
    void refreshDrivesIfChanged();
    // The scan source of the selected entry (empty path when none).
    tagScanSource selectedSource() const;
    // The output-folder rule for folder and the selected source.
    std::unique_ptr<COutputFolder> checkOutputFolder(const QString& folder) const;
    // True when the rule refuses folder because it lies on the selected source.
    bool onSelectedDrive(const QString& folder) const;

    CDriveCombo* driveCombo() const;
    QLineEdit* outputEdit() const;
    CExplorer1* webPane() const;
    QStatusBar* statusBar() const { return statusBarWidget; }
    CScanDig* scanDialog() const;
    // How the scans started from here open their source (tests fake it).
    void setSourceOpener(CScanDig::OpenFunction opener);
    const QString& outputFolder() const { return outputFolderPath; }

public slots:
    void OnBnClickedBrowse();
    void OnBnClickedOpenFolder();
    void OnBnClickedStartScan();
    void showAbout();

signals:
    // A scan has ended with its summary: the program ends.
    void programEndRequested();

protected:
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    enum EntryKind { DeviceEntry = 1, ImageEntry = 2, ChooseImageEntry = 3 };
    static constexpr int kImagePathWidth = 420; // pixels of an image path in the list
    static constexpr int kDrivesPollMs = 2000;  // how often sysfs is looked at for new disks
    void OnInitDialog();
    void onDriveActivated(int index);
    void createStatusBar();
    // FillDriveList, selecting the entry with data keep when it is still there.
    void fillDriveList(const QString& keep);
    // What the selected entry is, for the output-folder rule; false when
    // nothing is selected or the source cannot be examined.
    bool scannedSource(tagScannedSource& scanned) const;

    std::unique_ptr<Ui::CValloraDlg> ui;
    std::unique_ptr<CUserPrompts> ownPrompts;
    CUserPrompts* prompts;
    CDriveList driveList;
    QUrl pageAddress;
    QIcon appIcon;
    QString outputFolderPath;
    QPointer<CScanDig> scanDialogPtr;
    QStatusBar* statusBarWidget = nullptr;
    std::vector<tagDriveEntry> drives;
    std::vector<QString> imageFiles;
    CScanDig::OpenFunction sourceOpener;
    std::string knownDrives; // the drives' fingerprint when the list was built
    QTimer* drivesTimer = nullptr;
};

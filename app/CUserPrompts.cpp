#include "app/CUserPrompts.h"

#include "app/CRootHandOver.h"

#include <QDesktopServices>
#include <QFile>
#include <QFileDialog>
#include <QMessageBox>
#include <QUrl>

QString CUserPrompts::pickFolder(const QString& start) {
    return QFileDialog::getExistingDirectory(nullptr, QString(), start, QFileDialog::ShowDirsOnly);
}

QString CUserPrompts::pickImageFile(const QString& start) {
    return QFileDialog::getOpenFileName(nullptr, QString(), start,
                                        QStringLiteral("磁盘映像 (*.img *.dd *.raw *.bin *.iso);;"
                                                       "所有文件 (*)"));
}

void CUserPrompts::message(QWidget* owner, const QString& text, const QString& caption) {
    QMessageBox box(QMessageBox::NoIcon, caption, text, QMessageBox::Ok, owner);
    box.exec();
}

bool CUserPrompts::question(QWidget* owner, const QString& text, const QString& caption) {
    QMessageBox box(QMessageBox::Question, caption, text, QMessageBox::Yes | QMessageBox::No,
                    owner);
    return box.exec() == QMessageBox::Yes;
}

void CUserPrompts::openFolder(const QString& path) {
    if (path.isEmpty())
        return;
    if (CRootHandOver::openFolderAsUser(QFile::encodeName(path).toStdString()))
        return;
    QDesktopServices::openUrl(QUrl::fromLocalFile(path));
}

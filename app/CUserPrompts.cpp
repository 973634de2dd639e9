#include "app/CUserPrompts.h"

#include "privilege/CRootHandOver.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QFile>
#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>
#include <QUrl>

QString CUserPrompts::pickFolder(const QString& start) {
    return QFileDialog::getExistingDirectory(nullptr, QString(), start, QFileDialog::ShowDirsOnly);
}

QString CUserPrompts::pickImageFile(const QString& start) {
    return QFileDialog::getOpenFileName(
        nullptr, QString(), start,
        QCoreApplication::translate("CUserPrompts",
                                    "磁盘映像 (*.img *.dd *.raw *.bin *.iso);;所有文件 (*)"));
}

void CUserPrompts::message(QWidget* owner, const QString& text, const QString& caption) {
    QMessageBox box(QMessageBox::NoIcon, caption, text, QMessageBox::Ok, owner);
    box.exec();
}

void CUserPrompts::warning(QWidget* owner, const QString& text, const QString& caption) {
    QMessageBox box(QMessageBox::Warning, caption, text, QMessageBox::Ok, owner);
    box.exec();
}

CUserPrompts::Answer CUserPrompts::question(QWidget* owner, const QString& text,
                                            const QString& caption) {
    QMessageBox box(QMessageBox::Question, caption, text, QMessageBox::Yes | QMessageBox::No,
                    owner);
    return box.exec() == QMessageBox::Yes ? Answer::Yes : Answer::No;
}

CUserPrompts::Answer CUserPrompts::stopQuestion(QWidget* owner, const QString& text,
                                                const QString& caption) {
    QMessageBox box(QMessageBox::Question, caption, text, QMessageBox::Yes | QMessageBox::No,
                    owner);
    QPushButton* goOn = box.addButton(QCoreApplication::translate("CUserPrompts", "继续扫描"),
                                      QMessageBox::RejectRole);
    box.setEscapeButton(goOn);
    box.setDefaultButton(goOn);
    box.exec();
    if (box.clickedButton() == box.button(QMessageBox::Yes))
        return Answer::Yes;
    if (box.clickedButton() == box.button(QMessageBox::No))
        return Answer::No;
    return Answer::Dismissed;
}

void CUserPrompts::openFolder(const QString& path) {
    if (path.isEmpty())
        return;
    if (CRootHandOver::openFolderAsUser(QFile::encodeName(path).toStdString()))
        return;
    QDesktopServices::openUrl(QUrl::fromLocalFile(path));
}

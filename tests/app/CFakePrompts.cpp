#include "CFakePrompts.h"

QString CFakePrompts::pickFolder(const QString& start) {
    pickerStart = start;
    return folderToPick;
}

QString CFakePrompts::pickImageFile(const QString&) {
    return imageToPick;
}

void CFakePrompts::message(QWidget*, const QString& text, const QString& caption) {
    messages << text;
    captions << caption;
    if (whileMessageShown)
        whileMessageShown();
}

bool CFakePrompts::question(QWidget*, const QString&, const QString&) {
    ++questions;
    return answerYes;
}

void CFakePrompts::openFolder(const QString& path) {
    openedFolders << path;
}

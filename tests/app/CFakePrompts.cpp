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

void CFakePrompts::warning(QWidget* owner, const QString& text, const QString& caption) {
    warnings << text;
    message(owner, text, caption);
}

CUserPrompts::Answer CFakePrompts::question(QWidget*, const QString& text, const QString&) {
    ++questions;
    questionTexts << text;
    if (whileQuestionShown)
        whileQuestionShown();
    return answer;
}

CUserPrompts::Answer CFakePrompts::stopQuestion(QWidget* owner, const QString& text,
                                                const QString& caption) {
    return question(owner, text, caption);
}

void CFakePrompts::openFolder(const QString& path) {
    openedFolders << path;
}

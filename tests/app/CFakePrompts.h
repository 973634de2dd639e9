#pragma once

#include "app/CUserPrompts.h"

#include <QString>
#include <QStringList>

#include <functional>

// Answers the program's boxes and pickers without a person, and records
// what was asked.
class CFakePrompts : public CUserPrompts {
public:
    QString pickFolder(const QString& start) override;
    QString pickImageFile(const QString& start) override;
    void message(QWidget* owner, const QString& text, const QString& caption) override;
    void warning(QWidget* owner, const QString& text, const QString& caption) override;
    Answer question(QWidget* owner, const QString& text, const QString& caption) override;
    Answer stopQuestion(QWidget* owner, const QString& text, const QString& caption) override;
    void openFolder(const QString& path) override;

    QString folderToPick;       // empty: the picker is cancelled
    QString imageToPick;        // empty: the picker is cancelled
    Answer answer = Answer::No; // the answer to a question
    QString pickerStart;        // where the folder picker opened
    QStringList messages;       // texts of the boxes shown (warnings too)
    QStringList captions;       // their captions
    QStringList warnings;       // texts of the warning boxes
    QStringList questionTexts;  // texts of the questions asked
    int questions = 0;
    QStringList openedFolders;
    std::function<void()> whileMessageShown;  // runs inside message() and warning()
    std::function<void()> whileQuestionShown; // runs inside the questions
};

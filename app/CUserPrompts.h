#pragma once

#include <QString>

class QWidget;

// The boxes and pickers the dialogs put in front of the user, and the file
// manager they open. The program uses this class as it is; tests derive from
// it to answer without a person.
class CUserPrompts {
public:
    // How a question box was closed: Yes, No, or neither (Escape, the close
    // box, or the button that says to go on).
    enum class Answer { Yes, No, Dismissed };

    virtual ~CUserPrompts() = default;

    // A folder chosen by the user, starting at start; empty when cancelled.
    virtual QString pickFolder(const QString& start);
    // A disk image file chosen by the user; empty when cancelled.
    virtual QString pickImageFile(const QString& start);
    // A box with one OK button; returns once it is closed.
    virtual void message(QWidget* owner, const QString& text, const QString& caption);
    // A warning box with one OK button: something the user asked for cannot be done.
    virtual void warning(QWidget* owner, const QString& text, const QString& caption);
    // A box with Yes and No; Escape and the close box answer No.
    virtual Answer question(QWidget* owner, const QString& text, const QString& caption);
    // The question whether to stop a running scan: Yes, No, and a third
    // button that goes on scanning, which Escape and the close box also press.
    virtual Answer stopQuestion(QWidget* owner, const QString& text, const QString& caption);
    // Shows the folder in the desktop's file manager.
    virtual void openFolder(const QString& path);
};

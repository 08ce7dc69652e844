// Everything the shell asks of the person in front of it: message boxes, the open-file
// dialog and modal dialogs. The window and the dialogs reach them only through
// Prompts(), so tests can put a scripted answerer in place and run without a person.
#pragma once

#include <QStringList>

class QDialog;
class QWidget;

class UserPrompts {
public:
    virtual ~UserPrompts() = default;
    // An owner-less message box with only an OK button.
    virtual void ShowMessage(const char* text, const char* caption);
    // The open-file dialog for the play list: "Audio types" (.wav, .mp3 in any case)
    // first, then "Play list" (.m3u); several existing files of one folder. Fills paths
    // with full paths and answers true; false when cancelled.
    virtual bool ChooseFiles(QWidget* owner, QStringList& paths);
    // Runs dialog modally and returns the id it closed with.
    virtual int RunDialog(QDialog& dialog);
};

// The answerer in use; the one on screen unless a test has set another.
UserPrompts& Prompts();
// prompts stays owned by the caller; nullptr puts the on-screen answerer back.
void SetPrompts(UserPrompts* prompts);

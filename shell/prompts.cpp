#include "shell/prompts.h"

#include <QDialog>
#include <QFileDialog>
#include <QMessageBox>

namespace {

UserPrompts gScreenPrompts;
UserPrompts* gPrompts = &gScreenPrompts;

}  // namespace

void UserPrompts::ShowMessage(const char* text, const char* caption) {
    QMessageBox box(QMessageBox::NoIcon, QString::fromUtf8(caption), QString::fromUtf8(text), QMessageBox::Ok);
    box.exec();
}

bool UserPrompts::ChooseFiles(QWidget* owner, QStringList& paths) {
    // File names are case-sensitive here: the upper-case spellings are listed as well.
    paths = QFileDialog::getOpenFileNames(owner, QStringLiteral("Load play list..."), QString(),
                                          QStringLiteral("Audio types (*.wav *.mp3 *.WAV *.MP3);;"
                                                         "Play list (*.m3u *.M3U)"));
    return !paths.isEmpty();
}

int UserPrompts::RunDialog(QDialog& dialog) { return dialog.exec(); }

UserPrompts& Prompts() { return *gPrompts; }

void SetPrompts(UserPrompts* prompts) { gPrompts = prompts ? prompts : &gScreenPrompts; }

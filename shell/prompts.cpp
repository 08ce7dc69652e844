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
    paths = QFileDialog::getOpenFileNames(owner, QStringLiteral("Load play list..."), QString(),
                                          QStringLiteral("Audio types (*.wav *.mp3);;Play list (*.m3u)"));
    return !paths.isEmpty();
}

int UserPrompts::RunDialog(QDialog& dialog) { return dialog.exec(); }

UserPrompts& Prompts() { return *gPrompts; }

void SetPrompts(UserPrompts* prompts) { gPrompts = prompts ? prompts : &gScreenPrompts; }

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
    QFileDialog dialog(owner, QStringLiteral("Load play list..."));
    dialog.setFileMode(QFileDialog::ExistingFiles);
    // File names are case-sensitive here, so the patterns spell every case of the
    // extensions; only the labels are shown.
    dialog.setNameFilters({QStringLiteral("Audio types (*.[wW][aA][vV] *.[mM][pP]3)"),
                           QStringLiteral("Play list (*.[mM]3[uU])")});
    dialog.setOption(QFileDialog::HideNameFilterDetails);
    paths.clear();
    if (dialog.exec() == QDialog::Accepted) paths = dialog.selectedFiles();
    return !paths.isEmpty();
}

int UserPrompts::RunDialog(QDialog& dialog) { return dialog.exec(); }

UserPrompts& Prompts() { return *gPrompts; }

void SetPrompts(UserPrompts* prompts) { gPrompts = prompts ? prompts : &gScreenPrompts; }

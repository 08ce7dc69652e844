// bellwave: the player and recorder window.
#include <QApplication>

#include "shell/app_icon.h"
#include "shell/main_window.h"
#include "shell/quit_signals.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Bellwave"));
    QApplication::setDesktopFileName(QStringLiteral("bellwave"));
    QApplication::setWindowIcon(MakeAppIcon());
    CatchQuitSignals();
    MainWindow window;
    CloseOnQuitSignals(window);
    window.show();
    return QApplication::exec();
}

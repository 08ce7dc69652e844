// bellwave [FILE...]: the player and recorder window, playing the files given.
#include <QApplication>
#include <QTimer>

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
    // bellwave FILE...: queued and played once the window runs.
    const QStringList files = QApplication::arguments().mid(1);
    if (!files.isEmpty()) QTimer::singleShot(0, &window, [&window, files] { window.OpenFiles(files); });
    return QApplication::exec();
}

// bellwave: the player and recorder window.
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QApplication>
#include <QSocketNotifier>

#include "shell/app_icon.h"
#include "shell/main_window.h"

namespace {

int gSignalPipe[2] = {-1, -1};

// SIGINT or SIGTERM (Ctrl+C in the terminal of `make run`, a session ending): only a
// byte into the pipe here; the window then closes as Exit closes it, so the device is
// stopped and the log completed.
void OnQuitSignal(int) {
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = write(gSignalPipe[1], &byte, 1);
}

// Before the window exists, so that a signal during start-up waits in the pipe.
void CatchQuitSignals() {
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, gSignalPipe) != 0) return;
    struct sigaction action = {};
    action.sa_handler = OnQuitSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

void CloseOnQuitSignals(MainWindow& window) {
    if (gSignalPipe[0] < 0) return;
    QSocketNotifier* notifier = new QSocketNotifier(gSignalPipe[0], QSocketNotifier::Read, &window);
    QObject::connect(notifier, &QSocketNotifier::activated, &window, [&window] {
        char byte;
        [[maybe_unused]] const ssize_t n = read(gSignalPipe[0], &byte, 1);
        window.close();
    });
}

}  // namespace

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

// SIGINT and SIGTERM (Ctrl+C in the terminal of `make run`, a session ending) close the
// window as Exit closes it, so the device is stopped and the log completed.
#pragma once

class QWidget;

// Before the window exists, so that a signal during start-up waits until it does.
void CatchQuitSignals();
// From then on each quit signal closes window.
void CloseOnQuitSignals(QWidget& window);

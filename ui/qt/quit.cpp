#include "quit.h"

#include <QCoreApplication>

#include <atomic>

namespace pictrim::ui {

namespace {
std::atomic<int> g_quitCode{0};
}

void PostQuitMessage(int exitCode) {
    g_quitCode = exitCode;
    QCoreApplication::exit(exitCode);
}

int QuitCode() { return g_quitCode; }

}  // namespace pictrim::ui

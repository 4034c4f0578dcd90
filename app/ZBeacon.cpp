// Entry of the program: the main window, then the hidden debug window, then the message loop.
#ifndef _WIN32
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>
#endif

#include <QApplication>
#include <cstdio>
#ifdef _WIN32
#include <QSessionManager>
#else
#include <QSocketNotifier>
#endif

#include "app/Dialogs.h"
#include "app/Display.h"
#include "app/Unit2.h"
#include "app/ZB.h"
#include "platform/Application.h"
#include "platform/Folders.h"
#include "platform/Thread.h"

#ifdef _WIN32
namespace {
// Logging off or shutting down Windows asks the program to keep its data: the main window closes as its
// close box does, so the settings are written and unsaved text is offered for saving. While a modal box
// is open the request is left for the operator to answer the box; a close that the operator declines
// cancels the log-off where the system lets it be cancelled.
void CloseOnEndRequest(QWidget* window, QObject* owner) {
    QObject::connect(qApp, &QGuiApplication::commitDataRequest, owner, [window](QSessionManager& manager) {
        if (!window->isVisible() || QApplication::activeModalWidget()) return;
        if (!window->close()) manager.cancel();
    });
}
}  // namespace
#else
namespace {
int signalPipe[2] = {-1, -1};

void OnEndRequest(int) {
    const char c = 1;
    [[maybe_unused]] const ssize_t n = write(signalPipe[1], &c, 1);
}

// A request to end from the session or a terminal (SIGTERM, SIGINT, SIGHUP) closes the main window as
// its close box does, so the settings are written and unsaved text is offered for saving. While a
// modal box is open the request is left for the operator to answer the box. A request that arrived
// before the handler was in place (blocked by whoever started the program) is taken now.
void CloseOnEndRequest(QWidget* window, QObject* owner) {
    if (pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) != 0) return;
    auto* notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, owner);
    QObject::connect(notifier, &QSocketNotifier::activated, window, [window] {
        char buffer[32];
        while (read(signalPipe[0], buffer, sizeof buffer) > 0) {
        }
        if (!QApplication::activeModalWidget()) window->close();
    });
    struct sigaction action {};
    action.sa_handler = OnEndRequest;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigset_t requests;
    sigemptyset(&requests);
    for (int signal : {SIGTERM, SIGINT, SIGHUP}) {
        sigaction(signal, &action, nullptr);
        sigaddset(&requests, signal);
    }
    sigprocmask(SIG_UNBLOCK, &requests, nullptr);
}
}  // namespace
#endif

int main(int argc, char** argv) {
    // Without a display (an SSH session) the toolkit would stop with its platform plugin error.
    if (NoDisplay(argc, argv)) {
        std::fputs("no display: use zbeacon-cli\n", stderr);
        return 1;
    }
    QApplication app(argc, argv);
    QApplication::setApplicationName(ApplicationTitle(QCoreApplication::applicationFilePath()));
    SetApplicationIdentity();
    // Once the loop ends, worker threads hand nothing more to the window.
    QObject::connect(&app, &QCoreApplication::aboutToQuit, [] { Application::SetTerminated(true); });

    // Installed: settings in the user's configuration folder; otherwise beside the program.
    const TProgramFolders folders = ChooseProgramFolders(QCoreApplication::applicationDirPath());
    EnsureDataFolder(folders);

    int result = 0;
    {
        QtDialogs dialogs;
        TForm1 form(folders, dialogs);
        dialogs.SetParent(&form);
        form.Create();
        TDebug debug;
        form.SetDebugWindow(&debug);
        CloseOnEndRequest(&form, &form);
        form.show();
        result = app.exec();
    }  // destroying the window closes the port
    // A closed port's watcher ends on its own thread; let it finish before the process goes.
    TThread::WaitForFreeThreads();
    return result;
}

// Entry of the program: the main window, then the hidden debug window, then the message loop.
#include <QApplication>

#include "app/Dialogs.h"
#include "app/Unit2.h"
#include "app/ZB.h"
#include "platform/Application.h"
#include "platform/Thread.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(ApplicationTitle(QCoreApplication::applicationFilePath()));
    // Once the loop ends, worker threads hand nothing more to the window.
    QObject::connect(&app, &QCoreApplication::aboutToQuit, [] { Application::SetTerminated(true); });

    int result = 0;
    {
        QtDialogs dialogs;
        TForm1 form(QCoreApplication::applicationDirPath(), dialogs);
        dialogs.SetParent(&form);
        form.Create();
        TDebug debug;
        form.SetDebugWindow(&debug);
        form.show();
        result = app.exec();
    }  // destroying the window closes the port
    // A closed port's watcher ends on its own thread; let it finish before the process goes.
    TThread::WaitForFreeThreads();
    return result;
}

// Entry of the program: the main window, then the hidden debug window, then the message loop.
#include <QApplication>

#include "app/Dialogs.h"
#include "app/Unit2.h"
#include "app/ZB.h"
#include "platform/Application.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    // The application's title is the program file's name, first letter as it is, the rest in lower case.
    QApplication::setApplicationName(ApplicationTitle(QCoreApplication::applicationFilePath()));
    QObject::connect(&app, &QCoreApplication::aboutToQuit, [] { Application::SetTerminated(true); });

    QtDialogs dialogs;
    TForm1 form(QCoreApplication::applicationDirPath(), dialogs);
    dialogs.SetParent(&form);
    form.Create();
    TDebug debug;
    form.SetDebugWindow(&debug);
    form.show();
    return app.exec();
}

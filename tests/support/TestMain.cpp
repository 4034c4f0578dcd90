// Entry of every test program: GoogleTest on top of a real QApplication, so widgets,
// event loops and cross-thread hand-offs behave as in the program.
#include <gtest/gtest.h>

#include <QApplication>
#include <QProcessEnvironment>
#include <memory>

#include "platform/Thread.h"

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
#ifdef _WIN32
    // Wine does not hand variables named QT_... on to a Windows program: the Windows test build passes
    // Qt's variables (platform, plugin and font folders) as ZB_TEST_QT_... instead.
    const QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const QString& name : environment.keys()) {
        if (name.startsWith(QLatin1String("ZB_TEST_QT_")))
            qputenv(name.mid(8).toLatin1(), environment.value(name).toLocal8Bit());
    }
#endif  // The headless platform's own screen (800 x 600) is smaller than the windows' designed bounds;
    // the tests run on a screen where they fit, as on a desktop.
    if (qgetenv("QT_QPA_PLATFORM") == "offscreen")
        qputenv("QT_QPA_PLATFORM", QByteArray("offscreen:configfile=") + ZB_TEST_SCREEN_CONFIG);
    std::unique_ptr<QApplication> app;
    if (!GTEST_FLAG_GET(list_tests)) app = std::make_unique<QApplication>(argc, argv);
    int result = RUN_ALL_TESTS();
    // Watcher threads end on their own after their port closed; let them finish before exit.
    TThread::WaitForFreeThreads();
    return result;
}

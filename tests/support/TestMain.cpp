// Entry of every test program: GoogleTest on top of a real QApplication, so widgets,
// event loops and cross-thread hand-offs behave as in the program.
#include <gtest/gtest.h>

#include <QApplication>
#include <memory>

#include "platform/Thread.h"

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    std::unique_ptr<QApplication> app;
    if (!GTEST_FLAG_GET(list_tests)) app = std::make_unique<QApplication>(argc, argv);
    int result = RUN_ALL_TESTS();
    // Watcher threads end on their own after their port closed; let them finish before exit.
    TThread::WaitForFreeThreads();
    return result;
}

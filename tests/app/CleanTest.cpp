// `make clean` in a build folder that a run of the program has also used: the build's products go, the
// files the program and the operator keep there stay.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include "support/FileTestSupport.h"

namespace {

int RunTool(const QString& program, const QStringList& args, QString* output = nullptr) {
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, args);
    if (!process.waitForFinished(120000)) {
        process.kill();
        process.waitForFinished();
        return -2;
    }
    if (output) *output = QString::fromLocal8Bit(process.readAll());
    return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
}

}  // namespace

TEST(MakeClean, RemovesTheBuildsProductsAndKeepsTheOperatorsFiles) {
    const QString make = QStandardPaths::findExecutable(QStringLiteral("make"));
    if (make.isEmpty()) GTEST_SKIP() << "no make here";
    // A small project stands in for the program's build: one product of its own.
    QTemporaryDir source, build, none;
    filetest::WriteBytes(source.filePath("CMakeLists.txt").toStdString(),
                         "cmake_minimum_required(VERSION 3.25)\nproject(cleaned NONE)\n"
                         "add_custom_command(OUTPUT ZBeacon COMMAND ${CMAKE_COMMAND} -E touch ZBeacon)\n"
                         "add_custom_target(program ALL DEPENDS ZBeacon)\n");
    QString output;
    ASSERT_EQ(RunTool(QStringLiteral(ZB_CMAKE_COMMAND),
                      {"-S", source.path(), "-B", build.path(), "-G", "Ninja"}, &output),
              0)
        << output.toStdString();
    ASSERT_EQ(RunTool(QStringLiteral(ZB_CMAKE_COMMAND), {"--build", build.path()}, &output), 0)
        << output.toStdString();
    ASSERT_TRUE(QFile::exists(build.filePath("ZBeacon")));
    const QStringList kept = {"zbeacon.ini", "default.txt", "my beacon.txt", "field day/gps.txt"};
    ASSERT_TRUE(QDir(build.path()).mkdir("field day"));
    for (const QString& name : kept)
        filetest::WriteBytes(build.filePath(name).toStdString(), "PSDvvvSQSZ");

    ASSERT_EQ(RunTool(make,
                      {"-C", QStringLiteral(ZB_SOURCE_DIR), "clean", "BUILD=" + build.path(),
                       "TEST_BUILD=" + none.filePath("test"), "TSAN_BUILD=" + none.filePath("tsan"),
                       "FUZZ_BUILD=" + none.filePath("fuzz")},
                      &output),
              0)
        << output.toStdString();
    EXPECT_FALSE(QFile::exists(build.filePath("ZBeacon")));
    for (const QString& name : kept)
        EXPECT_EQ(filetest::ReadBytes(build.filePath(name).toStdString()), "PSDvvvSQSZ")
            << name.toStdString();
}

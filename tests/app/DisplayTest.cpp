// Started without a display (an SSH session), the program says so and points at the command-line tool
// instead of stopping with the toolkit's platform plugin error.
#include <gtest/gtest.h>

#include <QDir>
#include <QProcess>
#include <QTemporaryDir>
#include <map>
#include <string>
#include <vector>

#include "app/Display.h"

namespace {

bool NoDisplayWith(const std::vector<const char*>& arguments, const std::map<std::string, std::string>& env) {
    std::vector<const char*> argv{"ZBeacon"};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    return NoDisplay(static_cast<int>(argv.size()), argv.data(), [&env](const char* name) {
        const auto it = env.find(name);
        return it == env.end() ? std::string() : it->second;
    });
}

}  // namespace

TEST(Display, OnlyWithoutADisplayAndWithoutAChosenPlatform) {
    EXPECT_TRUE(NoDisplayWith({}, {}));
    EXPECT_TRUE(NoDisplayWith({}, {{"DISPLAY", ""}, {"WAYLAND_DISPLAY", ""}, {"QT_QPA_PLATFORM", ""}}));
    EXPECT_TRUE(NoDisplayWith({"-platform"}, {}));  // no platform named
    EXPECT_TRUE(NoDisplayWith({"-platformtheme", "gtk3"}, {}));
    EXPECT_FALSE(NoDisplayWith({}, {{"DISPLAY", ":0"}}));
    EXPECT_FALSE(NoDisplayWith({}, {{"WAYLAND_DISPLAY", "wayland-0"}}));
    EXPECT_FALSE(NoDisplayWith({}, {{"QT_QPA_PLATFORM", "offscreen"}}));
    EXPECT_FALSE(NoDisplayWith({"-platform", "offscreen"}, {}));
    EXPECT_FALSE(NoDisplayWith({"--platform", "vnc"}, {}));
}

// The program itself, started with none of them: one line on the error stream, a failed exit and no
// crash, and nothing written to the home folder.
TEST(Display, TheProgramWithoutADisplaySaysToUseTheCommandLineTool) {
    QTemporaryDir home;
    QProcessEnvironment env;
    env.insert(QStringLiteral("PATH"), QStringLiteral("/usr/bin:/bin"));
    env.insert(QStringLiteral("HOME"), home.path());
    env.insert(QStringLiteral("ASAN_OPTIONS"), qEnvironmentVariable("ASAN_OPTIONS"));
    QProcess program;
    program.setProcessEnvironment(env);
    program.start(QStringLiteral(ZB_PROGRAM_PATH), {});
    ASSERT_TRUE(program.waitForFinished(60000));
    EXPECT_EQ(program.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(program.exitCode(), 1);
    EXPECT_EQ(program.readAllStandardError(), "no display: use zbeacon-cli\n");
    EXPECT_EQ(program.readAllStandardOutput(), "");
    EXPECT_TRUE(QDir(home.path()).isEmpty());
}

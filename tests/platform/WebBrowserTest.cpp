// Finding the desktop's web browser for the help page, in a desktop configuration of the test's own.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include "platform/WebBrowser.h"

namespace {

const QString kUrl = QStringLiteral("file:///opt/zb/zbeacon.html");

class Browser : public ::testing::Test {
protected:
    void SetUp() override {
        env.ConfigHome = Path("config");
        env.ConfigDirs = {Path("etc-xdg")};
        env.DataHome = Path("data");
        env.DataDirs = {Path("usr-share")};
        env.ExecutablePath = {Path("bin")};
        QDir().mkpath(Path("bin"));
    }
    QString Path(const QString& name) const { return root.filePath(name); }
    void Write(const QString& name, const QByteArray& text) {
        QDir().mkpath(QFileInfo(Path(name)).path());
        QFile file(Path(name));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(text);
    }
    // An installed program in the test's PATH.
    QString Program(const QString& name) {
        Write("bin/" + name, "#!/bin/sh\n");
        QFile::setPermissions(Path("bin/" + name), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        return Path("bin/" + name);
    }
    void Entry(const QString& file, const QByteArray& exec, const QByteArray& extra = {}) {
        Write(file, "[Desktop Entry]\nType=Application\nName=X\nExec=" + exec + "\n" + extra);
    }
    QStringList Command() const { return WebBrowserCommand(kUrl, env); }

    QTemporaryDir root;
    TBrowserEnvironment env;
};

}  // namespace

// The handler for HTML files (here an editor) is not taken for a browser; the one for web addresses is,
// from the user's list before the system's, with its Exec quoting undone and the address filled in.
TEST_F(Browser, TheHandlerOfWebAddressesIsTakenNotTheOneOfHtmlFiles) {
    Program("editor");
    const QString web = Program("web by");
    Entry("usr-share/applications/editor.desktop", "editor %F");
    Entry("usr-share/applications/org/web-browser.desktop",
          "\"" + web.toUtf8().replace(' ', "\\s") + "\" --new-window %U %i", "Icon=web\n");
    Write("config/mimeapps.list", "[Default Applications]\ntext/html=editor.desktop\n");
    EXPECT_EQ(Command(), QStringList());

    Write("etc-xdg/mimeapps.list", "[Default Applications]\nx-scheme-handler/https=editor.desktop\n");
    Write("config/mimeapps.list",
          "[Default Applications]\ntext/html=editor.desktop\n"
          "x-scheme-handler/https=missing.desktop;org-web-browser.desktop;\n");
    EXPECT_EQ(Command(), (QStringList{web, "--new-window", kUrl}));
}

// Entries that cannot show a page are passed over: hidden, run in a terminal, a program that is not
// installed. The applications that merely declare web addresses count when no default is set.
TEST_F(Browser, OnlyAnEntryThatCanRunCounts) {
    Program("lynx");
    Program("surf");
    Entry("data/applications/lynx.desktop", "lynx %u", "Terminal=true\n");
    Entry("data/applications/gone.desktop", "gone %u");
    Entry("data/applications/hidden.desktop", "surf %u", "Hidden=true\n");
    Entry("data/applications/tried.desktop", "surf %u", "TryExec=not-installed\n");
    Entry("usr-share/applications/surf.desktop", "surf");
    Write("config/mimeapps.list",
          "[Default Applications]\nx-scheme-handler/https=lynx.desktop;gone.desktop;hidden.desktop;"
          "tried.desktop\n");
    EXPECT_EQ(Command(), QStringList());
    Write("usr-share/applications/mimeinfo.cache",
          "[MIME Cache]\nx-scheme-handler/http=lynx.desktop;surf.desktop;\n");
    EXPECT_EQ(Command(), (QStringList{"surf", kUrl}));  // no field code: the address goes last
}

// $BROWSER is the user's own choice and comes first; x-www-browser is the last resort.
TEST_F(Browser, BrowserVariableFirstAndTheSystemsAlternativeLast) {
    const QString fallback = Program("x-www-browser");
    EXPECT_EQ(Command(), (QStringList{fallback, kUrl}));
    Program("mine");
    env.Browser = {"not-there", "mine --page=%s"};
    EXPECT_EQ(Command(), (QStringList{"mine", "--page=" + kUrl}));
}

TEST(DesktopExec, QuotingEscapesAndFieldCodes) {
    EXPECT_EQ(ExpandDesktopExec("a \"b c\" \"d\\\"e\" %%x %f %k", kUrl),
              (QStringList{"a", "b c", "d\"e", "%x", "/opt/zb/zbeacon.html"}));
    EXPECT_EQ(ExpandDesktopExec("run --url=%u", "https://e.org/"),
              (QStringList{"run", "--url=https://e.org/"}));
    EXPECT_EQ(ExpandDesktopExec("broken \"quote", kUrl), QStringList());
    EXPECT_EQ(ExpandDesktopExec("", kUrl), QStringList());
}

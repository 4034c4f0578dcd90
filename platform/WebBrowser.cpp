#include "platform/WebBrowser.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QProcess>
#include <QTextStream>
#include <QUrl>

namespace {

const char* const kWebTypes[] = {"x-scheme-handler/https", "x-scheme-handler/http"};

QStringList SplitPaths(const QByteArray& value, const QStringList& fallback) {
    QStringList paths;
    for (const QString& path : QString::fromLocal8Bit(value).split(QLatin1Char(':'), Qt::SkipEmptyParts)) {
        if (QDir::isAbsolutePath(path)) paths << path;
    }
    return paths.isEmpty() ? fallback : paths;
}

QString AbsoluteOr(const QByteArray& value, const QString& fallback) {
    const QString path = QString::fromLocal8Bit(value);
    return QDir::isAbsolutePath(path) ? path : fallback;
}

// The key lines of one group of a desktop-style file ("[Default Applications]"), in file order.
QList<QPair<QString, QString>> GroupEntries(const QString& file, const QString& group) {
    QList<QPair<QString, QString>> entries;
    QFile f(file);
    if (!f.open(QIODevice::ReadOnly | QIODevice::Text)) return entries;
    QTextStream in(&f);
    bool inGroup = false;
    while (!in.atEnd()) {
        const QString line = in.readLine().trimmed();
        if (line.isEmpty() || line.startsWith(QLatin1Char('#'))) continue;
        if (line.startsWith(QLatin1Char('['))) {
            inGroup = line == QLatin1Char('[') + group + QLatin1Char(']');
            continue;
        }
        const qsizetype equals = line.indexOf(QLatin1Char('='));
        if (!inGroup || equals <= 0) continue;
        entries.append({line.left(equals).trimmed(), line.mid(equals + 1).trimmed()});
    }
    return entries;
}

QStringList ListValue(const QList<QPair<QString, QString>>& entries, const QString& key) {
    QStringList values;
    for (const auto& [k, v] : entries) {
        if (k == key) values << v.split(QLatin1Char(';'), Qt::SkipEmptyParts);
    }
    return values;
}

// A string value of a desktop entry with its escapes (\s \n \t \r \\) undone.
QString Unescaped(const QString& value) {
    QString out;
    for (qsizetype i = 0; i < value.size(); ++i) {
        const QChar c = value.at(i);
        if (c != QLatin1Char('\\') || i + 1 == value.size()) {
            out += c;
            continue;
        }
        const QChar n = value.at(++i);
        if (n == QLatin1Char('s'))
            out += QLatin1Char(' ');
        else if (n == QLatin1Char('n'))
            out += QLatin1Char('\n');
        else if (n == QLatin1Char('t'))
            out += QLatin1Char('\t');
        else if (n == QLatin1Char('r'))
            out += QLatin1Char('\r');
        else if (n == QLatin1Char('\\'))
            out += QLatin1Char('\\');
        else
            out += QLatin1Char('\\') + QString(n);
    }
    return out;
}

bool IsTrue(const QString& value) {
    return value == QLatin1String("true") || value == QLatin1String("1");
}

QString FindExecutable(const QString& program, const QStringList& path) {
    if (program.isEmpty()) return {};
    if (program.contains(QLatin1Char('/'))) {
        const QFileInfo info(program);
        return info.isAbsolute() && info.isFile() && info.isExecutable() ? program : QString();
    }
    for (const QString& dir : path) {
        const QFileInfo info(QDir(dir).filePath(program));
        if (info.isFile() && info.isExecutable()) return info.filePath();
    }
    return {};
}

class Lookup {
public:
    explicit Lookup(const TBrowserEnvironment& env) : env_(env) {
        applicationDirs_ << QDir(env.DataHome).filePath(QStringLiteral("applications"));
        for (const QString& dir : env.DataDirs)
            applicationDirs_ << QDir(dir).filePath(QStringLiteral("applications"));
    }

    // The browser's command for `url` from the registered applications, or empty.
    QStringList Registered(const QString& url) {
        QStringList lists;  // mimeapps.list files, most important first
        QStringList folders{env_.ConfigHome};
        folders << env_.ConfigDirs;
        for (const QString& dir : applicationDirs_)
            folders << dir;
        for (const QString& folder : folders) {
            for (const QString& desktop : env_.Desktops)
                lists << QDir(folder).filePath(desktop + QStringLiteral("-mimeapps.list"));
            lists << QDir(folder).filePath(QStringLiteral("mimeapps.list"));
        }
        for (const char* type : kWebTypes) {
            for (const QString& list : lists) {
                const QStringList ids = ListValue(GroupEntries(list, QStringLiteral("Default Applications")),
                                                  QLatin1String(type));
                if (QStringList command = FirstUsable(ids, url); !command.isEmpty()) return command;
            }
        }
        for (const char* type : kWebTypes) {
            QStringList ids;
            for (const QString& list : lists)
                ids << ListValue(GroupEntries(list, QStringLiteral("Added Associations")),
                                 QLatin1String(type));
            for (const QString& dir : applicationDirs_) {
                ids << ListValue(GroupEntries(QDir(dir).filePath(QStringLiteral("mimeinfo.cache")),
                                              QStringLiteral("MIME Cache")),
                                 QLatin1String(type));
            }
            if (QStringList command = FirstUsable(ids, url); !command.isEmpty()) return command;
        }
        return {};
    }

private:
    QStringList FirstUsable(const QStringList& ids, const QString& url) {
        for (const QString& id : ids) {
            if (QStringList command = EntryCommand(id.trimmed(), url); !command.isEmpty()) return command;
        }
        return {};
    }

    // The command of the desktop entry `id` for `url`; empty when the entry is missing, hidden, runs in a
    // terminal or names a program that is not installed.
    QStringList EntryCommand(const QString& id, const QString& url) {
        const QString file = EntryFile(id);
        if (file.isEmpty()) return {};
        QHash<QString, QString> keys;
        for (const auto& [k, v] : GroupEntries(file, QStringLiteral("Desktop Entry"))) {
            if (!keys.contains(k)) keys.insert(k, v);
        }
        if (IsTrue(keys.value(QStringLiteral("Hidden"))) || IsTrue(keys.value(QStringLiteral("Terminal"))))
            return {};
        const QString tryExec = Unescaped(keys.value(QStringLiteral("TryExec")));
        if (!tryExec.isEmpty() && FindExecutable(tryExec, env_.ExecutablePath).isEmpty()) return {};
        QStringList command = ExpandDesktopExec(Unescaped(keys.value(QStringLiteral("Exec"))), url);
        if (command.isEmpty() || FindExecutable(command.first(), env_.ExecutablePath).isEmpty()) return {};
        return command;
    }

    // The file of a desktop entry id: a path below an applications folder with "/" read as "-"; the
    // user's folder first.
    QString EntryFile(const QString& id) {
        if (!id.endsWith(QLatin1String(".desktop"))) return {};
        if (!indexed_) {
            indexed_ = true;
            for (const QString& dir : applicationDirs_) {
                QDirIterator it(dir, {QStringLiteral("*.desktop")}, QDir::Files,
                                QDirIterator::Subdirectories);
                while (it.hasNext()) {
                    const QString path = it.next();
                    const QString entryId =
                        QDir(dir).relativeFilePath(path).replace(QLatin1Char('/'), QLatin1Char('-'));
                    if (!files_.contains(entryId)) files_.insert(entryId, path);
                }
            }
        }
        return files_.value(id);
    }

    const TBrowserEnvironment& env_;
    QStringList applicationDirs_;
    bool indexed_ = false;
    QHash<QString, QString> files_;
};

}  // namespace

TBrowserEnvironment TBrowserEnvironment::FromSystem() {
    TBrowserEnvironment env;
    const QString home = QDir::homePath();
    env.ConfigHome = AbsoluteOr(qgetenv("XDG_CONFIG_HOME"), QDir(home).filePath(QStringLiteral(".config")));
    env.ConfigDirs = SplitPaths(qgetenv("XDG_CONFIG_DIRS"), {QStringLiteral("/etc/xdg")});
    env.DataHome = AbsoluteOr(qgetenv("XDG_DATA_HOME"), QDir(home).filePath(QStringLiteral(".local/share")));
    env.DataDirs = SplitPaths(qgetenv("XDG_DATA_DIRS"),
                              {QStringLiteral("/usr/local/share"), QStringLiteral("/usr/share")});
    for (const QString& desktop :
         QString::fromLocal8Bit(qgetenv("XDG_CURRENT_DESKTOP")).split(QLatin1Char(':'), Qt::SkipEmptyParts))
        env.Desktops << desktop.toLower();
    env.Browser = QString::fromLocal8Bit(qgetenv("BROWSER")).split(QLatin1Char(':'), Qt::SkipEmptyParts);
    env.ExecutablePath = QString::fromLocal8Bit(qgetenv("PATH")).split(QLatin1Char(':'), Qt::SkipEmptyParts);
    return env;
}

QStringList ExpandDesktopExec(const QString& exec, const QString& url) {
    // Words: separated by blanks; within double quotes a backslash escapes ", `, $ and itself.
    QStringList words;
    QString word;
    bool inWord = false, quoted = false;
    for (qsizetype i = 0; i < exec.size(); ++i) {
        const QChar c = exec.at(i);
        if (quoted) {
            if (c == QLatin1Char('"')) {
                quoted = false;
            } else if (c == QLatin1Char('\\') && i + 1 < exec.size()) {
                word += exec.at(++i);
            } else {
                word += c;
            }
        } else if (c == QLatin1Char('"')) {
            quoted = inWord = true;
        } else if (c == QLatin1Char(' ') || c == QLatin1Char('\t')) {
            if (inWord) words << word;
            word.clear();
            inWord = false;
        } else {
            word += c;
            inWord = true;
        }
    }
    if (quoted) return {};
    if (inWord) words << word;

    const QUrl address(url);
    const QString file = address.isLocalFile() ? address.toLocalFile() : url;
    QStringList expanded;
    bool taken = false;
    for (const QString& w : words) {
        QString out;
        bool dropWord = false;
        for (qsizetype i = 0; i < w.size(); ++i) {
            if (w.at(i) != QLatin1Char('%') || i + 1 == w.size()) {
                out += w.at(i);
                continue;
            }
            const char code = w.at(++i).toLatin1();
            switch (code) {
                case 'u':
                case 'U':
                    out += url;
                    taken = true;
                    break;
                case 'f':
                case 'F':
                    out += file;
                    taken = true;
                    break;
                case '%':
                    out += QLatin1Char('%');
                    break;
                case 'i':
                case 'c':
                case 'k':
                    dropWord = w.size() == 2;
                    break;
                default:
                    break;  // deprecated and unknown codes go
            }
        }
        if (!dropWord) expanded << out;
    }
    if (expanded.isEmpty()) return {};
    if (!taken) expanded << url;
    return expanded;
}

QStringList WebBrowserCommand(const QString& url, const TBrowserEnvironment& environment) {
    for (const QString& entry : environment.Browser) {
        QStringList command = QProcess::splitCommand(entry);
        if (command.isEmpty() || FindExecutable(command.first(), environment.ExecutablePath).isEmpty())
            continue;
        bool placed = false;
        for (QString& word : command) {
            if (word.contains(QLatin1String("%s"))) {
                word.replace(QLatin1String("%s"), url);
                placed = true;
            }
        }
        if (!placed) command << url;
        return command;
    }
    if (QStringList command = Lookup(environment).Registered(url); !command.isEmpty()) return command;
    const QString fallback = FindExecutable(QStringLiteral("x-www-browser"), environment.ExecutablePath);
    if (!fallback.isEmpty()) return {fallback, url};
    return {};
}

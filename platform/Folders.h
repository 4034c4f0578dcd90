#pragma once
// Where the program keeps its files. A program run from its build folder, or from any folder that the
// install step did not lay out, keeps the settings file and default.txt beside itself. An installed
// program never writes beside itself: its files live in the user's configuration folder.

#include <QString>

struct TProgramFolders {
    QString Program;    // folder of the program file
    QString Data;       // settings file and default.txt
    QString Documents;  // where the file dialogs start while the current file is the default one in Data;
                        // empty: in the current file's folder
    QString HelpPage;   // full path of zbeacon.html

    bool IsInstalled() const { return Data != Program; }

    // The command file that is current when none is remembered: default.txt in the data folder.
    QString DefaultCommandFile() const;
    // Everything beside the program.
    static TProgramFolders Portable(const QString& programDir);
    // The layout of an installed program: settings in `configDir`, dialogs starting in `documentsDir`,
    // the help page beside the program or else in the installed documentation folder.
    static TProgramFolders ForInstalled(const QString& programDir, const QString& configDir,
                                        const QString& documentsDir);
};

// The id of the program's desktop entry, without ".desktop": org.example.ZindleBeaconSetup.
QString DesktopEntryId();

// True when `programDir` is the program folder of an installed tree: the install step puts the
// program into <prefix>/bin and its desktop entry into <prefix>/share/applications, or, for the
// command-line tools alone, their copyright notice into <prefix>/share/doc/zbeacon-cli.
bool IsInstalledLayout(const QString& programDir);

// The folders for a program in `programDir`: installed or portable, with the user's configuration and
// documents folders as the desktop defines them (XDG_CONFIG_HOME, by default ~/.config).
TProgramFolders ChooseProgramFolders(const QString& programDir);

// Where the beacon's previous programs are kept: backups/ beside the settings file of a portable copy,
// zbeacon/backups in the user's data folder (XDG_DATA_HOME, by default ~/.local/share) for an installed one.
QString BackupsFolder(const TProgramFolders& folders);

// Creates the data folder when it is missing (the settings file is written there at close). Returns
// false when it cannot be created; the close then reports the failed write as usual.
bool EnsureDataFolder(const TProgramFolders& folders);

#pragma once
// The desktop's web browser: the program that the desktop has registered for web pages (http and https
// addresses), found as the desktop's own launchers find it. Not the program registered for HTML files,
// which on many desktops is a text editor.
//
// Looked for in this order: the commands in $BROWSER; the default application for
// x-scheme-handler/https, then x-scheme-handler/http, in the desktop's mimeapps.list files (the user's
// before the system's, a desktop's own list before the common one), then the applications that
// declare those types (their "Added Associations" and mimeinfo.cache); finally x-www-browser.
// An entry whose program is not installed, that is hidden or that runs in a terminal is passed over.

#include <QString>
#include <QStringList>

// Where the lookup reads from; FromSystem() takes the process's environment with the defaults of the
// desktop's base directory rules.
struct TBrowserEnvironment {
    QString ConfigHome;          // $XDG_CONFIG_HOME, by default ~/.config
    QStringList ConfigDirs;      // $XDG_CONFIG_DIRS, by default /etc/xdg
    QString DataHome;            // $XDG_DATA_HOME, by default ~/.local/share
    QStringList DataDirs;        // $XDG_DATA_DIRS, by default /usr/local/share and /usr/share
    QStringList Desktops;        // $XDG_CURRENT_DESKTOP, lower case ("gnome", "kde")
    QStringList Browser;         // $BROWSER, split at ":"
    QStringList ExecutablePath;  // $PATH

    static TBrowserEnvironment FromSystem();
};

// The program and its arguments that show `url` in the web browser; empty when no browser is registered.
QStringList WebBrowserCommand(const QString& url, const TBrowserEnvironment& environment);

// The words of a desktop entry's Exec value (its quoting and escapes undone) with the field codes filled
// in for `url`: %u, %U, %f and %F become the address (%f and %F the local path of a file address), %%
// becomes %, and the other codes go; an address that no code takes is added at the end. Empty when the
// value is malformed (an open quote).
QStringList ExpandDesktopExec(const QString& exec, const QString& url);

// Shows `url` (a web address, or the file: address of a page) in the web browser without waiting for it;
// false when no browser could be started. On Linux the browser is the one WebBrowserCommand finds; on
// Windows the program registered for https addresses, else whatever the shell opens the address with.
bool OpenInWebBrowser(const QString& url);

#pragma once
// File names as the program holds them (QString) and as the file system stores them (bytes).
//
// Linux names are bytes, usually but not always UTF-8. Valid UTF-8 becomes its characters; every
// byte that is not part of valid UTF-8 becomes one of the codes U+DC80 to U+DCFF (a lone low
// surrogate, which no valid UTF-8 yields), so that every name comes back as exactly the bytes it was
// read from. Qt's own conversion would put U+FFFD in their place and lose the name.

#include <QString>
#include <string>

namespace FileNames {

// The text for a name read from the file system or from a file.
QString FromBytes(const std::string& bytes);

// The bytes that FromBytes read the text from. Other text is stored as UTF-8; a surrogate that is
// not part of a pair and stands for no byte becomes U+FFFD.
std::string ToBytes(const QString& text);

// The text for showing: bytes that were not UTF-8 appear as U+FFFD.
QString ForDisplay(const QString& text);

// True when the name exists and is not a folder (following symbolic links).
bool ExistsAsNonFolder(const QString& text);

// A path as the program's file layer takes it (TextFile, the settings file, the backups), and back: on
// Linux the bytes that Qt's own file functions use; on Windows the name in UTF-8 (ToBytes), which the
// file layer widens to the system's UTF-16 names, so that no name is lost to the 8-bit code page.
std::string Native(const QString& path);
QString FromNative(const std::string& path);

#ifdef _WIN32
// The system's UTF-16 name for a path of the file layer, and the file layer's path for a system name.
// A name that holds a surrogate without its pair comes back the same wherever it is in U+DC80 to U+DCFF.
std::wstring Wide(const std::string& path);
std::string Narrow(const std::wstring& name);
#endif

}  // namespace FileNames

#pragma once
// The settings file: a classic INI text file read and written one key at a time.
//
// Format, as read:
//  - Lines end in LF or CR LF; a trailing CR is not part of a line. A UTF-8 byte-order mark at the
//    start of the file is skipped. Bytes are single-byte text and pass through unchanged.
//  - A line whose first non-blank character is '[' and that holds a ']' is a section header; the name
//    is the text between the '[' and the first ']', without surrounding blanks. What follows the ']'
//    is ignored. A line that starts with '[' is never a key line.
//  - A line whose first non-blank character is ';' or '#' is a comment.
//  - Any other line holding '=' is a key line: the key is the text before the first '=', the value the
//    text after it, each without surrounding blanks (spaces, tabs and CRs). A value enclosed in a matching
//    pair of double or single quotes loses that pair. Lines before the first header belong to no
//    section.
//  - Section and key names match without regard to the case of ASCII letters; the first matching
//    section counts, and within it the first matching key.
//  - Every other line (blank, junk without '=', a '[' without ']') is ignored, and kept when writing.
//
// Writing changes the one line of the key, or adds a line after the last key line of the first
// matching section (before any blank lines that end it), or adds the section at the end of the file
// after a blank line. Every other byte of the file stays as it was, and new lines take the file's
// line-break style (CR LF for a new file). A value that would not read back as written, because of
// blanks at its ends or enclosing quotes, is written inside double quotes.
//
// Every call reads or replaces the file at once; nothing is cached and nothing is held open. Each
// write replaces the file (TextFile::ReplaceFile): atomically where it can, never when this user may
// not write it.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace Profile {

// The longest value a read returns; longer values are cut to this length.
constexpr std::size_t kMaxValueLength = 2047;

// Files larger than this are not settings files: reads yield the defaults, writes fail.
constexpr std::size_t kMaxFileSize = 256u * 1024u * 1024u;

// The value of `key` in `section`, or `def` when the file, the section or the key is absent (or the
// file cannot be read). A key present with an empty value yields the empty text. Stored values are cut
// to kMaxValueLength characters; the default is returned as given.
std::string GetPrivateProfileString(const std::string& section, const std::string& key,
                                    const std::string& def, const std::string& path);

// Sets `key` in `section` to `value`, creating the key, the section or the file as needed. Returns
// false with errno set when the file cannot be read or written, and with errno EINVAL for names or a
// value that the format cannot hold: an LF in the value, a CR or LF in a name, a ']' in the section
// name, an empty key name, a key name holding '=' or starting with '[', ';' or '#'. Every value that a
// read can yield can be written.
bool WritePrivateProfileString(const std::string& section, const std::string& key, const std::string& value,
                               const std::string& path);

// The same read and write on a file's text held in memory; the functions above read the file, use
// these, and replace the file when its text changed. FindValueIn yields the stored value whole (not cut
// to kMaxValueLength), or nothing when the section or the key is absent. WithValueIn yields the text
// with the key set, or nothing for names or a value that the format cannot hold (see above).
std::optional<std::string> FindValueIn(std::string_view text, const std::string& section,
                                       const std::string& key);
std::optional<std::string> WithValueIn(const std::string& text, const std::string& section,
                                       const std::string& key, const std::string& value);

// All key/value pairs of `section` in file order; for keys that occur twice the first one counts.
// Empty when the file or the section is absent.
std::vector<std::pair<std::string, std::string>> GetPrivateProfileSection(const std::string& section,
                                                                          const std::string& path);

}  // namespace Profile

// A settings file named by its full path. Each call reads or writes the file at once.
class TIniFile {
public:
    explicit TIniFile(std::string path);

    const std::string& FileName() const { return path_; }

    std::string ReadString(const std::string& section, const std::string& key, const std::string& def) const;
    // The stored number, or `def` when the key is absent or not a number in full.
    int32_t ReadInteger(const std::string& section, const std::string& key, int32_t def) const;
    // Any non-zero number is true.
    bool ReadBool(const std::string& section, const std::string& key, bool def) const;
    std::vector<std::pair<std::string, std::string>> ReadSectionValues(const std::string& section) const;

    // Each write throws EIniFileException "Unable to write to <path>" when the file cannot be written.
    void WriteString(const std::string& section, const std::string& key, const std::string& value);
    void WriteInteger(const std::string& section, const std::string& key, int32_t value);
    void WriteBool(const std::string& section, const std::string& key, bool value);

private:
    std::string path_;
};

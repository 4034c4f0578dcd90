#include "platform/IniFile.h"

#include "platform/Convert.h"

#include <cerrno>
#include <cstring>
#include <optional>
#include <string_view>
#include <unordered_set>

#include "platform/Exception.h"
#include "platform/TextFile.h"

namespace Profile {

namespace {

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r';
}

std::string_view Trim(std::string_view s) {
    while (!s.empty() && IsBlank(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && IsBlank(s.back()))
        s.remove_suffix(1);
    return s;
}

char FoldCase(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool SameName(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (FoldCase(a[i]) != FoldCase(b[i])) return false;
    }
    return true;
}

// One line of the file as byte offsets into the whole text.
struct Line {
    std::size_t begin = 0;    // first byte of the line
    std::size_t end = 0;      // one past its last byte, before the line break
    std::size_t next = 0;     // first byte of the following line
    bool terminated = false;  // the line ends with a line break
};

// Walks the lines of a text; a file that ends with a line break has no empty line after it.
class LineReader {
public:
    explicit LineReader(std::string_view text) : text_(text) {
        // A byte-order mark left by an editor is not part of the first line's content.
        if (text_.substr(0, 3) == "\xEF\xBB\xBF") pos_ = 3;
    }
    bool Next(Line& line) {
        if (pos_ >= text_.size()) return false;
        line.begin = pos_;
        const void* lf = std::memchr(text_.data() + pos_, '\n', text_.size() - pos_);
        if (lf != nullptr) {
            const auto at = static_cast<std::size_t>(static_cast<const char*>(lf) - text_.data());
            line.end = at > pos_ && text_[at - 1] == '\r' ? at - 1 : at;
            line.next = at + 1;
            line.terminated = true;
        } else {
            line.end = line.next = text_.size();
            line.terminated = false;
        }
        pos_ = line.next;
        return true;
    }

private:
    std::string_view text_;
    std::size_t pos_ = 0;
};

enum class Kind { Other, Header, Key };

struct Parsed {
    Kind kind = Kind::Other;
    std::string_view name;       // section name or key name, without surrounding blanks
    std::string_view value;      // key lines: the value without surrounding blanks
    std::size_t valueBegin = 0;  // key lines: offset of the first byte after '=' and the blanks after it
};

// Classifies a line. Key lines are only split into name and value when `wantKey` is set, which keeps
// a scan over lines of no interest cheap.
Parsed Parse(std::string_view text, const Line& line, bool wantKey) {
    Parsed parsed;
    std::size_t first = line.begin;
    while (first < line.end && IsBlank(text[first]))
        ++first;
    if (first == line.end) return parsed;
    const std::string_view rest = text.substr(first, line.end - first);
    if (rest.front() == '[') {
        const auto close = rest.find(']');
        if (close != std::string_view::npos) {
            parsed.kind = Kind::Header;
            parsed.name = Trim(rest.substr(1, close - 1));
        }
        return parsed;
    }
    if (!wantKey || rest.front() == ';' || rest.front() == '#') return parsed;
    const auto eq = rest.find('=');
    if (eq == std::string_view::npos) return parsed;
    parsed.name = Trim(rest.substr(0, eq));
    if (parsed.name.empty()) return parsed;
    parsed.kind = Kind::Key;
    std::size_t valueBegin = first + eq + 1;
    while (valueBegin < line.end && IsBlank(text[valueBegin]))
        ++valueBegin;
    parsed.valueBegin = valueBegin;
    parsed.value = Trim(text.substr(valueBegin, line.end - valueBegin));
    return parsed;
}

bool Quoted(std::string_view value) {
    return value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
           value.back() == value.front();
}

std::string_view Unquote(std::string_view value) {
    return Quoted(value) ? value.substr(1, value.size() - 2) : value;
}

// The text written for a value: quoted when reading would otherwise strip blanks or quotes from it.
std::string Encode(const std::string& value) {
    if (!value.empty() && (IsBlank(value.front()) || IsBlank(value.back()) || Quoted(value))) {
        return '"' + value + '"';
    }
    return value;
}

// The stored value of a key (trimmed and unquoted), or nothing when the section or key is absent.
std::optional<std::string_view> FindValue(std::string_view text, std::string_view section,
                                          std::string_view key) {
    LineReader reader(text);
    Line line;
    bool inSection = false;
    while (reader.Next(line)) {
        const Parsed parsed = Parse(text, line, inSection);
        if (parsed.kind == Kind::Header) {
            if (inSection) break;  // only the first section of that name counts
            inSection = SameName(parsed.name, section);
        } else if (parsed.kind == Kind::Key && SameName(parsed.name, key)) {
            return Unquote(parsed.value);
        }
    }
    return std::nullopt;
}

// The file's line-break style, taken from its first line break; CR LF when it has none.
std::string_view LineBreakOf(std::string_view text) {
    const auto lf = text.find('\n');
    if (lf == std::string_view::npos) return "\r\n";
    return lf > 0 && text[lf - 1] == '\r' ? "\r\n" : "\n";
}

// Returns the file's text with the key set, or the text unchanged when the key already holds it.
std::string WithValue(const std::string& text, std::string_view section, std::string_view key,
                      const std::string& encoded) {
    const std::string_view eol = LineBreakOf(text);
    LineReader reader(text);
    Line line;
    bool inSection = false;
    bool sectionFound = false;
    Line anchor;  // the section's header or its last key line: a new key goes after it
    bool lastLineBlank = true;
    while (reader.Next(line)) {
        const Parsed parsed = Parse(text, line, inSection);
        lastLineBlank = Trim(std::string_view(text).substr(line.begin, line.end - line.begin)).empty();
        if (parsed.kind == Kind::Header) {
            if (inSection) break;
            if (!sectionFound && SameName(parsed.name, section)) {
                inSection = sectionFound = true;
                anchor = line;
            }
        } else if (inSection && parsed.kind == Kind::Key) {
            if (SameName(parsed.name, key)) {
                // Keep the line up to the value (the key's spelling, the spacing around '='), so a
                // hand-edited line keeps its look; only the value changes.
                std::string updated = text;
                updated.replace(parsed.valueBegin, line.end - parsed.valueBegin, encoded);
                return updated;
            }
            anchor = line;
        }
    }

    std::string keyLine(key);
    keyLine += '=';
    keyLine += encoded;
    keyLine += eol;
    std::string updated = text;
    if (sectionFound) {
        if (anchor.terminated) {
            updated.insert(anchor.next, keyLine);
        } else {
            updated.insert(anchor.next, std::string(eol) + keyLine);
        }
        return updated;
    }
    if (!updated.empty()) {
        if (updated.back() != '\n') updated += eol;
        if (!lastLineBlank) updated += eol;  // a blank line between sections
    }
    updated += '[';
    updated += section;
    updated += ']';
    updated += eol;
    updated += keyLine;
    return updated;
}

bool HasLineBreak(std::string_view s) {
    return s.find_first_of("\r\n") != std::string_view::npos;
}

bool ValidSection(std::string_view section) {
    return !HasLineBreak(section) && section.find(']') == std::string_view::npos;
}

bool ValidKey(std::string_view key) {
    return !key.empty() && !HasLineBreak(key) && key.find('=') == std::string_view::npos &&
           key.front() != '[' && key.front() != ';' && key.front() != '#';
}

// Reads a key without cutting its value to length; the integer reader needs the whole text.
std::optional<std::string> ReadValue(const std::string& section, const std::string& key,
                                     const std::string& path) {
    std::string text;
    if (TextFile::ReadRegularFile(path, text, kMaxFileSize, false) != TextFile::ReadResult::Ok) {
        return std::nullopt;
    }
    return FindValueIn(text, section, key);
}

}  // namespace

std::optional<std::string> FindValueIn(std::string_view text, const std::string& section,
                                       const std::string& key) {
    const auto value = FindValue(text, Trim(section), Trim(key));
    if (!value) return std::nullopt;
    return std::string(*value);
}

std::optional<std::string> WithValueIn(const std::string& text, const std::string& section,
                                       const std::string& key, const std::string& value) {
    const std::string_view sectionName = Trim(section);
    const std::string_view keyName = Trim(key);
    // An LF would end the line early and let the rest pass for other keys or sections. A CR inside a
    // value is no line break to the reader, so a value read with one can be written back.
    if (!ValidSection(sectionName) || !ValidKey(keyName) || value.find('\n') != std::string::npos) {
        return std::nullopt;
    }
    return WithValue(text, sectionName, keyName, Encode(value));
}

std::string GetPrivateProfileString(const std::string& section, const std::string& key,
                                    const std::string& def, const std::string& path) {
    auto value = ReadValue(section, key, path);
    if (!value) return def;
    if (value->size() > kMaxValueLength) value->resize(kMaxValueLength);
    return *value;
}

bool WritePrivateProfileString(const std::string& section, const std::string& key, const std::string& value,
                               const std::string& path) {
    if (!WithValueIn(std::string(), section, key, value)) {
        errno = EINVAL;
        return false;
    }
    std::string text;
    switch (TextFile::ReadRegularFile(path, text, kMaxFileSize, false)) {
        case TextFile::ReadResult::Ok:
        case TextFile::ReadResult::Missing:
            break;
        case TextFile::ReadResult::TooLarge:
            errno = EFBIG;
            return false;
        case TextFile::ReadResult::Failed:
            // Writing over a file that could not be read would lose everything else in it.
            return false;
    }
    const std::string updated = *WithValueIn(text, section, key, value);
    // Already stored: the file is left alone, but a write to a file this user may not write still
    // fails, whether or not the value changed.
    if (updated == text) return TextFile::MayWrite(path);
    return TextFile::ReplaceFile(path, updated);
}

std::vector<std::pair<std::string, std::string>> GetPrivateProfileSection(const std::string& section,
                                                                          const std::string& path) {
    std::vector<std::pair<std::string, std::string>> pairs;
    std::string text;
    if (TextFile::ReadRegularFile(path, text, kMaxFileSize, false) != TextFile::ReadResult::Ok) return pairs;
    const std::string_view wanted = Trim(section);
    std::unordered_set<std::string> seen;
    LineReader reader(text);
    Line line;
    bool inSection = false;
    while (reader.Next(line)) {
        const Parsed parsed = Parse(text, line, inSection);
        if (parsed.kind == Kind::Header) {
            if (inSection) break;
            inSection = SameName(parsed.name, wanted);
        } else if (parsed.kind == Kind::Key) {
            std::string folded(parsed.name);
            for (char& c : folded)
                c = FoldCase(c);
            if (!seen.insert(std::move(folded)).second) continue;  // a later duplicate
            const std::string_view value = Unquote(parsed.value);
            pairs.emplace_back(std::string(parsed.name), std::string(value.substr(0, kMaxValueLength)));
        }
    }
    return pairs;
}

}  // namespace Profile

TIniFile::TIniFile(std::string path) : path_(std::move(path)) {}

std::string TIniFile::ReadString(const std::string& section, const std::string& key,
                                 const std::string& def) const {
    return Profile::GetPrivateProfileString(section, key, def, path_);
}

int32_t TIniFile::ReadInteger(const std::string& section, const std::string& key, int32_t def) const {
    const auto text = Profile::ReadValue(section, key, path_);
    int32_t value = 0;
    return text && Convert::TryStrToInt(*text, value) ? value : def;
}

bool TIniFile::ReadBool(const std::string& section, const std::string& key, bool def) const {
    return ReadInteger(section, key, def ? 1 : 0) != 0;
}

std::vector<std::pair<std::string, std::string>> TIniFile::ReadSectionValues(
    const std::string& section) const {
    return Profile::GetPrivateProfileSection(section, path_);
}

void TIniFile::WriteString(const std::string& section, const std::string& key, const std::string& value) {
    if (!Profile::WritePrivateProfileString(section, key, value, path_)) {
        throw EIniFileException("Unable to write to " + path_);
    }
}

void TIniFile::WriteInteger(const std::string& section, const std::string& key, int32_t value) {
    WriteString(section, key, std::to_string(value));
}

void TIniFile::WriteBool(const std::string& section, const std::string& key, bool value) {
    WriteString(section, key, value ? "1" : "0");
}

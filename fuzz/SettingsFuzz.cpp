// The settings file: any bytes as zbeacon.ini. Every key the program uses is read as the start-up reads
// it and checked against a second reader of the format; then the keys are written back as the close
// writes them, and read again. Each write may change only the key's own line or add lines: every other
// line stays byte for byte.
#include <algorithm>
#include <cstring>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "FuzzSupport.h"
#include "platform/Convert.h"
#include "platform/IniFile.h"

namespace {

enum class Type { Integer, Boolean, Text };

struct Key {
    const char* section;
    const char* name;
    Type type;
};

// In the order the close writes them.
constexpr Key kKeys[] = {
    {"Window", "Top", Type::Integer},         {"Window", "Left", Type::Integer},
    {"Window", "Width", Type::Integer},       {"Window", "Height", Type::Integer},
    {"Window", "Debug.Top", Type::Integer},   {"Window", "Debug.Left", Type::Integer},
    {"Window", "Debug.Width", Type::Integer}, {"Window", "Debug.Height", Type::Integer},
    {"Files", "SaveAs", Type::Text},          {"Comm", "Port", Type::Integer},
    {"Beacon", "MaxChar", Type::Integer},     {"Beacon", "Synchronized", Type::Boolean},
    {"Window", "Debug", Type::Boolean},       {"Beacon", "GPS", Type::Text},
};

// ---- A second reader of the format, line by line ----

bool Blank(char c) {
    return c == ' ' || c == '\t' || c == '\r';
}

std::string_view Trim(std::string_view s) {
    while (!s.empty() && Blank(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && Blank(s.back()))
        s.remove_suffix(1);
    return s;
}

std::string Folded(std::string_view s) {
    std::string out(s);
    for (char& c : out) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return out;
}

struct Entry {
    std::string section;  // folded
    std::string key;      // folded
    std::string value;    // trimmed and unquoted
};

// Every key line of the file with the section it stands in; lines before the first header have none.
std::vector<Entry> ReferenceEntries(std::string_view text, std::vector<std::string>& sectionsInOrder) {
    std::vector<Entry> entries;
    if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
    std::optional<std::string> section;
    while (!text.empty()) {
        const size_t lf = text.find('\n');
        std::string_view line = text.substr(0, lf);
        text.remove_prefix(lf == std::string_view::npos ? text.size() : lf + 1);
        line = Trim(line);
        if (line.empty() || line.front() == ';' || line.front() == '#') continue;
        if (line.front() == '[') {
            const size_t close = line.find(']');
            if (close != std::string_view::npos) {
                section = Folded(Trim(line.substr(1, close - 1)));
                sectionsInOrder.push_back(*section);
            }
            continue;  // a line that starts with '[' is never a key line
        }
        const size_t eq = line.find('=');
        if (eq == std::string_view::npos || !section) continue;
        const std::string_view key = Trim(line.substr(0, eq));
        if (key.empty()) continue;
        std::string_view value = Trim(line.substr(eq + 1));
        if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
            value.back() == value.front())
            value = value.substr(1, value.size() - 2);
        entries.push_back({*section, Folded(key), std::string(value)});
        // Remember which occurrence of the section this key is in: only the first one counts.
        entries.back().section +=
            '\n' + std::to_string(std::count(sectionsInOrder.begin(), sectionsInOrder.end(), *section));
    }
    return entries;
}

// The value a read must find: the first key of that name in the first section of that name.
std::optional<std::string> ReferenceValue(const std::vector<Entry>& entries, std::string_view section,
                                          std::string_view key) {
    const std::string wanted = Folded(section) + "\n1";
    const std::string name = Folded(key);
    for (const Entry& e : entries) {
        if (e.section == wanted && e.key == name) return e.value;
    }
    return std::nullopt;
}

// ---- Checks ----

// A write may replace part of one line (the value) or insert lines; it never removes a line break, so
// no other line can change or go.
void CheckConfined(const std::string& before, const std::string& after) {
    size_t prefix = 0;
    while (prefix < before.size() && prefix < after.size() && before[prefix] == after[prefix])
        ++prefix;
    size_t suffix = 0;
    while (suffix < before.size() - prefix && suffix < after.size() - prefix &&
           before[before.size() - 1 - suffix] == after[after.size() - 1 - suffix])
        ++suffix;
    const std::string_view removed = std::string_view(before).substr(prefix, before.size() - prefix - suffix);
    FUZZ_CHECK(removed.find('\n') == std::string_view::npos);
}

struct Read {
    std::string text;
    int32_t number = 0;
};

// Reads a key as the start-up does (a text, a number or a flag) and checks it against the reference;
// returns what the close would write back for it (an absent text gets the program's default).
Read ReadAndCheck(const TIniFile& ini, const std::vector<Entry>& entries, const Key& key) {
    constexpr int32_t kDefault = -77;
    const std::string kMissing = "\x01missing";
    const std::optional<std::string> stored = ReferenceValue(entries, key.section, key.name);
    // Numbers are read from the whole stored text; anything but a number in full is the default.
    int32_t parsed = 0;
    const bool isNumber = stored && Convert::TryStrToInt(*stored, parsed);

    Read read;
    switch (key.type) {
        case Type::Text:
            read.text = ini.ReadString(key.section, key.name, kMissing);
            if (stored) {
                FUZZ_CHECK(read.text == stored->substr(0, Profile::kMaxValueLength));
            } else {
                FUZZ_CHECK(read.text == kMissing);
                read.text =
                    std::strcmp(key.name, "GPS") == 0 ? "100000000000100000000000" : "/opt/zb/default.txt";
            }
            break;
        case Type::Integer:
            read.number = ini.ReadInteger(key.section, key.name, kDefault);
            FUZZ_CHECK(read.number == (isNumber ? parsed : kDefault));
            break;
        case Type::Boolean:
            read.number = ini.ReadBool(key.section, key.name, true) ? 1 : 0;
            FUZZ_CHECK(read.number == (isNumber ? parsed != 0 : true));
            break;
    }
    return read;
}

// SaveAs goes back as it was read. The slot list is written from the GPS menu, which the start-up
// ticked from the text read only when it held at least 24 characters.
std::string WrittenText(const Key& key, const Read& value) {
    if (std::strcmp(key.name, "GPS") != 0) return value.text;
    std::string slots(24, '0');
    for (size_t i = 0; i < slots.size() && value.text.size() >= 24; ++i) {
        if (value.text[i] == '1') slots[i] = '1';
    }
    return slots;
}

// The text the close writes for a key.
std::string WrittenValue(const Key& key, const Read& value) {
    switch (key.type) {
        case Type::Integer:
            return std::to_string(value.number);
        case Type::Boolean:
            return value.number != 0 ? "1" : "0";
        case Type::Text:
            break;
    }
    return WrittenText(key, value);
}

// Writes a key through the program's writer in memory; the file-level writer is this plus the file.
std::string Write(const std::string& text, const Key& key, const Read& value) {
    const std::optional<std::string> updated =
        Profile::WithValueIn(text, key.section, key.name, WrittenValue(key, value));
    FUZZ_CHECK(updated.has_value());  // whatever the program writes, the format can hold
    return *updated;
}

void Write(TIniFile& ini, const Key& key, const Read& value) {
    switch (key.type) {
        case Type::Integer:
            ini.WriteInteger(key.section, key.name, value.number);
            break;
        case Type::Boolean:
            ini.WriteBool(key.section, key.name, value.number != 0);
            break;
        case Type::Text:
            ini.WriteString(key.section, key.name, WrittenText(key, value));
            break;
    }
}

// The value the reference finds for a key is what was written.
void CheckWritten(const std::vector<Entry>& entries, const Key& key, const Read& value) {
    FUZZ_CHECK(ReferenceValue(entries, key.section, key.name) == WrittenValue(key, value));
}

// The same through the program's reader, on the text in memory and on the file.
void CheckWritten(const std::string& text, const Key& key, const Read& value) {
    FUZZ_CHECK(Profile::FindValueIn(text, key.section, key.name) == WrittenValue(key, value));
}

void CheckWritten(const TIniFile& ini, const Key& key, const Read& value) {
    if (key.type == Type::Text) {
        FUZZ_CHECK(ini.ReadString(key.section, key.name, "\x01missing") == WrittenText(key, value));
    } else {
        FUZZ_CHECK(ini.ReadInteger(key.section, key.name, -77) == value.number);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string original(fuzz::AsText(data, size));
    const std::string path = fuzz::ScratchDir() + "/zbeacon.ini";
    fuzz::WriteRaw(path, original);
    TIniFile ini(path);

    std::vector<std::string> sections;
    const std::vector<Entry> entries = ReferenceEntries(original, sections);

    // The start-up's reads.
    std::vector<Read> values;
    for (const Key& key : kKeys)
        values.push_back(ReadAndCheck(ini, entries, key));
    // [Ports]: the first of duplicate keys counts, and each pair is what a single read finds.
    const auto ports = ini.ReadSectionValues("Ports");
    std::map<std::string, int> seen;
    for (const auto& [name, value] : ports) {
        FUZZ_CHECK(++seen[Folded(name)] == 1);
        const std::optional<std::string> stored = ReferenceValue(entries, "Ports", name);
        FUZZ_CHECK(stored && value == stored->substr(0, Profile::kMaxValueLength));
        FUZZ_CHECK(ini.ReadString("Ports", name, "") == value);
    }

    // The close's writes: each one confined to its own line, each found at once where it was written.
    // They run on the text in memory, through the same writer the file-level calls use.
    std::string text = original;
    for (size_t i = 0; i < std::size(kKeys); ++i) {
        const std::string after = Write(text, kKeys[i], values[i]);
        CheckConfined(text, after);
        std::vector<std::string> unused;
        CheckWritten(ReferenceEntries(after, unused), kKeys[i], values[i]);
        text = after;
    }

    // Parsed again: every key holds what was written, and every key the program does not use still
    // reads as it did.
    std::vector<std::string> sectionsAfter;
    const std::vector<Entry> entriesAfter = ReferenceEntries(text, sectionsAfter);
    for (size_t i = 0; i < std::size(kKeys); ++i)
        CheckWritten(text, kKeys[i], values[i]);
    for (const Entry& e : entries) {
        const bool designed = std::any_of(std::begin(kKeys), std::end(kKeys), [&](const Key& k) {
            return e.section == Folded(k.section) + "\n1" && e.key == Folded(k.name);
        });
        if (designed) continue;
        const auto section = std::string_view(e.section).substr(0, e.section.find('\n'));
        const std::string sectionKey = std::string(section) + "\n1";
        if (e.section != sectionKey) continue;  // later sections of a name are never read
        FUZZ_CHECK(ReferenceValue(entriesAfter, section, e.key) == ReferenceValue(entries, section, e.key));
    }

    // A second close with the same values changes nothing.
    for (size_t i = 0; i < std::size(kKeys); ++i)
        FUZZ_CHECK(Write(text, kKeys[i], values[i]) == text);

    // The close through the file gives the same file, and a second one leaves it alone. Every file
    // operation costs time, so a quarter of the inputs (chosen by their length) go this way.
    if (size % 4 == 0) {
        for (size_t i = 0; i < std::size(kKeys); ++i)
            Write(ini, kKeys[i], values[i]);
        FUZZ_CHECK(fuzz::ReadRaw(path) == text);
        for (size_t i = 0; i < std::size(kKeys); ++i)
            CheckWritten(ini, kKeys[i], values[i]);
    }
    return 0;
}

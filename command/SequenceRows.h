#pragma once
// The decoded command string as rows, kept compact: a command row is its letter, a message row a span of
// one buffer that holds every message character in order. A row's text is made when it is asked for, so
// a listing that shows these rows costs what is on screen, not one string per row.

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <vector>

namespace Commands {

class SequenceRows {
public:
    // What a row is.
    enum class Kind { Command, Message };

    qsizetype size() const { return static_cast<qsizetype>(rows_.size()); }
    bool empty() const { return rows_.empty(); }

    Kind KindOf(qsizetype row) const {
        return rows_[static_cast<size_t>(row)].letter ? Kind::Command : Kind::Message;
    }
    // The command letter of a command row; a null character for a message row.
    QChar Letter(qsizetype row) const { return QChar(rows_[static_cast<size_t>(row)].letter); }
    // The row's listing text: the command's entry (W as the mode was when decoded) or the message run.
    QString Text(qsizetype row) const;
    QStringList Texts() const;

    // Some command row is one that a synchronized beacon cannot carry.
    bool AnyIncompatible() const { return anyIncompatible_; }

    // Decoding, one character at a time (line breaks are not characters: they are left out by the
    // caller). False once decoding has stopped ("Z" or "*"); later characters change nothing.
    explicit SequenceRows(bool synchronized = false) : synchronized_(synchronized) {}
    bool Add(char16_t c);
    void Reserve(qsizetype characters);

private:
    struct Row {
        uint32_t start = 0;   // message rows: first character in messages_
        uint32_t length = 0;  // message rows: number of characters
        char16_t letter = 0;  // command rows: the letter
    };

    bool synchronized_ = false;
    bool stopped_ = false;
    bool anyIncompatible_ = false;
    bool inMessage_ = false;  // the last row is a message run that the next message character extends
    QString messages_;
    std::vector<Row> rows_;
};

// Decodes a command string of single bytes whose line breaks are CR LF (a lone CR or LF is a character).
SequenceRows DecodeRows(const QByteArray& text, bool synchronized);

}  // namespace Commands

#include "command/SequenceRows.h"

#include "command/CommandTable.h"

namespace Commands {

QString SequenceRows::Text(qsizetype row) const {
    const Row& r = rows_[static_cast<size_t>(row)];
    if (r.letter) return QString::fromLatin1(ListingEntry(QChar(r.letter), synchronized_));
    return messages_.mid(r.start, r.length);
}

QStringList SequenceRows::Texts() const {
    QStringList texts;
    texts.reserve(size());
    for (qsizetype row = 0; row < size(); ++row)
        texts << Text(row);
    return texts;
}

void SequenceRows::Reserve(qsizetype characters) {
    messages_.reserve(characters);
}

// A command ends a message run, so the next message character opens a row of its own; line breaks do
// not, so a run goes on across them.
bool SequenceRows::Add(char16_t c) {
    if (stopped_) return false;
    if (c == u'*') {
        stopped_ = true;
        return false;
    }
    const QChar ch(c);
    if (ListingEntry(ch, synchronized_) != nullptr) {
        rows_.push_back(Row{0, 0, c});
        anyIncompatible_ = anyIncompatible_ || IsIncompatibleWithSynchronized(ch);
        inMessage_ = false;
        if (c == u'Z') stopped_ = true;
        return !stopped_;
    }
    if (inMessage_) {
        ++rows_.back().length;
    } else {
        rows_.push_back(Row{static_cast<uint32_t>(messages_.size()), 1, 0});
        inMessage_ = true;
    }
    messages_.append(ch);
    return true;
}

SequenceRows DecodeRows(const QByteArray& text, bool synchronized) {
    SequenceRows rows(synchronized);
    rows.Reserve(text.size());
    const char* p = text.constData();
    const qsizetype n = text.size();
    for (qsizetype i = 0; i < n; ++i) {
        if (p[i] == '\r' && i + 1 < n && p[i + 1] == '\n') {
            ++i;  // a line break
            continue;
        }
        if (!rows.Add(static_cast<unsigned char>(p[i]))) break;
    }
    return rows;
}

}  // namespace Commands

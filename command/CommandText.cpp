#include "command/CommandText.h"

namespace Commands {

QByteArray CommandTextFrom(const QByteArray& text) {
    QByteArray kept;
    kept.reserve(text.size());
    for (char c : text) {
        const auto u = static_cast<unsigned char>(c);
        const bool lineBreak = u == '\r' || u == '\n';
        if (lineBreak || (u >= 32 && u != 127 && u != 255)) kept += c;
    }
    return kept;
}

QList<QByteArray> SplitLines(const QByteArray& text) {
    QList<QByteArray> lines;
    qsizetype start = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char c = text.at(i);
        if (c != '\r' && c != '\n') continue;
        lines << text.mid(start, i - start);
        if (c == '\r' && i + 1 < text.size() && text.at(i + 1) == '\n') ++i;
        start = i + 1;
    }
    lines << text.mid(start);
    return lines;
}

QByteArray RemoveLines(const QByteArray& text, const std::function<bool(const QByteArray& line)>& drop) {
    QList<QByteArray> kept;
    for (const QByteArray& line : SplitLines(text)) {
        if (!drop(line)) kept << line;
    }
    return kept.join("\r\n");
}

}  // namespace Commands

#include "Script.h"

namespace rk40ctl {

static QVariant classify(const QString& word, bool quoted)
{
    if (quoted)
        return word;
    if (word == "TRUE" || word == "FALSE")
        return word == "TRUE";
    bool ok = false;
    qlonglong n = 0;
    QString body = word;
    const bool negative = body.startsWith('-');
    if (negative)
        body = body.mid(1);
    if (body.startsWith("0x", Qt::CaseInsensitive))
        n = body.mid(2).toLongLong(&ok, 16);
    else if (!body.isEmpty() && body[0].isDigit())
        n = body.toLongLong(&ok, 10);
    if (ok)
        return negative ? -n : n;
    return word;
}

bool tokenize(const QString& line, QVariantList& words, QString* error)
{
    words.clear();
    qsizetype i = 0;
    const qsizetype n = line.size();
    while (i < n) {
        while (i < n && line[i].isSpace())
            ++i;
        if (i >= n)
            break;
        if (line[i] == '"') {
            QString text;
            ++i;
            bool closed = false;
            while (i < n) {
                if (line[i] == '\\' && i + 1 < n) {
                    text += line[i + 1];
                    i += 2;
                } else if (line[i] == '"') {
                    ++i;
                    closed = true;
                    break;
                } else {
                    text += line[i++];
                }
            }
            if (!closed) {
                if (error)
                    *error = "unterminated quoted text";
                return false;
            }
            words << classify(text, true);
        } else {
            const qsizetype start = i;
            while (i < n && !line[i].isSpace())
                ++i;
            words << classify(line.mid(start, i - start), false);
        }
    }
    return true;
}

bool parseLine(const QString& line, ScriptLine& out, QString* error)
{
    out = ScriptLine{};
    const QString trimmed = line.trimmed();
    if (trimmed.isEmpty() || trimmed.startsWith('#'))
        return true;
    QVariantList words;
    if (!tokenize(trimmed, words, error))
        return false;
    auto fail = [&](const QString& why) {
        if (error)
            *error = why;
        return false;
    };
    if (words.first().typeId() != QMetaType::QString)
        return fail("a line must start with a name");
    const QString head = words.takeFirst().toString();
    if (head == "get" || head == "put") {
        if (words.isEmpty() || words.first().typeId() != QMetaType::QString)
            return fail(head + " needs a property name");
        out.kind = head == "get" ? ScriptLine::Kind::Get : ScriptLine::Kind::Put;
        out.name = words.takeFirst().toString();
        out.args = words;
        if (out.kind == ScriptLine::Kind::Get && out.args.size() > 1)
            return fail("get takes a name and at most an index");
        if (out.kind == ScriptLine::Kind::Put && (out.args.isEmpty() || out.args.size() > 2))
            return fail("put takes a name, an optional index and a value");
        return true;
    }
    if (head == "wait") {
        if (words.size() != 1 || words.first().typeId() != QMetaType::LongLong || words.first().toLongLong() < 0)
            return fail("wait takes a number of milliseconds");
        out.kind = ScriptLine::Kind::Wait;
        out.args = words;
        return true;
    }
    if (head == "face") {
        if (words.isEmpty() || words.first().typeId() != QMetaType::QString)
            return fail("face takes a file name and optionally a width and a height");
        out.kind = ScriptLine::Kind::Face;
        out.name = words.takeFirst().toString();
        out.args = words;
        if (!(out.args.isEmpty() || out.args.size() == 2))
            return fail("face takes a file name and optionally a width and a height");
        return true;
    }
    out.kind = ScriptLine::Kind::Call;
    out.name = head;
    out.args = words;
    return true;
}

QString formatValue(const QVariant& v)
{
    switch (v.typeId()) {
    case QMetaType::Bool:
        return v.toBool() ? "TRUE" : "FALSE";
    case QMetaType::Short: case QMetaType::Int: case QMetaType::LongLong:
    case QMetaType::UShort: case QMetaType::UInt: case QMetaType::ULongLong:
        return QString::number(v.toLongLong());
    default:
        return v.toString();
    }
}

} // namespace rk40ctl

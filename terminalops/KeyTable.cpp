#include "terminalops/KeyTable.h"

#include <QStringList>

#include <algorithm>
#include <set>

namespace terminalops {

namespace {

bool isHexDigit(QChar c)
{
    return (c >= QLatin1Char('0') && c <= QLatin1Char('9')) || (c >= QLatin1Char('a') && c <= QLatin1Char('f'))
           || (c >= QLatin1Char('A') && c <= QLatin1Char('F'));
}

// One record of RFC 4180 text starting at `pos`: its fields, `pos` moved past
// its line end. False with the reason for a badly quoted field.
bool readRecord(const QString& text, qsizetype& pos, QStringList& fields, QString& reason)
{
    fields.clear();
    QString field;
    bool quoted = false;       // inside quotes
    bool wasQuoted = false;    // the field began with a quote
    while (pos < text.size()) {
        const QChar c = text.at(pos++);
        if (quoted) {
            if (c != QLatin1Char('"')) {
                field += c;
            } else if (pos < text.size() && text.at(pos) == QLatin1Char('"')) {
                field += c;
                ++pos;
            } else {
                quoted = false;
            }
            continue;
        }
        if (c == QLatin1Char(',')) {
            fields << field;
            field.clear();
            wasQuoted = false;
        } else if (c == QLatin1Char('\n') || c == QLatin1Char('\r')) {
            if (c == QLatin1Char('\r') && pos < text.size() && text.at(pos) == QLatin1Char('\n'))
                ++pos;
            break;
        } else if (c == QLatin1Char('"')) {
            if (!field.isEmpty() || wasQuoted) {
                reason = QStringLiteral("a quote inside a field that does not start with one");
                return false;
            }
            quoted = wasQuoted = true;
        } else {
            if (wasQuoted) {
                reason = QStringLiteral("text after a quoted field's closing quote");
                return false;
            }
            field += c;
        }
    }
    if (quoted) {
        reason = QStringLiteral("a quoted field that is never closed");
        return false;
    }
    fields << field;
    return true;
}

QString quoted(const QString& field)
{
    if (!field.contains(QLatin1Char(',')) && !field.contains(QLatin1Char('"')) && !field.contains(QLatin1Char('\n'))
        && !field.contains(QLatin1Char('\r')))
        return field;
    QString out = field;
    out.replace(QLatin1String("\""), QLatin1String("\"\""));
    return QLatin1Char('"') + out + QLatin1Char('"');
}

KeyFile refused(int line, const QString& reason)
{
    KeyFile out;
    out.line = line;
    out.reason = reason;
    return out;
}

} // namespace

QString normalKeyId(const QString& text)
{
    if (text.size() != kKeyIdDigits || !std::all_of(text.begin(), text.end(), isHexDigit))
        return {};
    return text.toUpper();
}

KeyList sortedKeys(KeyList keys)
{
    std::sort(keys.begin(), keys.end(), [](const Key& a, const Key& b) { return a.id < b.id; });
    return keys;
}

KeyFile parseKeyCsv(const QByteArray& data)
{
    QString text = QString::fromUtf8(data);
    if (text.startsWith(QChar(0xFEFF)))
        text.remove(0, 1);
    KeyFile out;
    std::set<QString> seen;
    qsizetype pos = 0;
    bool header = false;
    for (int next = 1; pos < text.size();) {
        const int line = next;
        const qsizetype start = pos;
        QStringList fields;
        QString reason;
        if (!readRecord(text, pos, fields, reason))
            return refused(line, reason);
        // A quoted field may hold line ends: the next record starts further down.
        const QStringView taken = QStringView(text).mid(start, pos - start);
        next += static_cast<int>(taken.count(QLatin1Char('\n'))) + (taken.endsWith(QLatin1Char('\r')) ? 1 : 0);
        if (fields.size() == 1 && fields.at(0).trimmed().isEmpty())
            continue;
        if (!header) {
            if (fields.size() < 2 || fields.size() > 3 || fields.at(0).trimmed() != QLatin1String("id")
                || fields.at(1).trimmed() != QLatin1String("access")
                || (fields.size() == 3 && fields.at(2).trimmed() != QLatin1String("name")))
                return refused(line, QStringLiteral("the first line must be the header \"id,access,name\""));
            header = true;
            continue;
        }
        if (fields.size() < 2 || fields.size() > 3)
            return refused(line, QStringLiteral("%1 fields where id, access and an optional name belong").arg(fields.size()));
        const QString id = normalKeyId(fields.at(0).trimmed());
        if (id.isEmpty())
            return refused(line, QStringLiteral("the id \"%1\" is not 14 hexadecimal digits").arg(fields.at(0)));
        bool number = false;
        const int access = fields.at(1).trimmed().toInt(&number, 10);
        if (!number || access < 0 || access > kMaxAccess)
            return refused(line, QStringLiteral("the access \"%1\" is not a number from 0 to 255").arg(fields.at(1)));
        if (!seen.insert(id).second)
            return refused(line, QStringLiteral("the id %1 is given twice").arg(id));
        out.keys.push_back({id, access, fields.size() == 3 ? fields.at(2) : QString()});
    }
    if (!header)
        return refused(1, QStringLiteral("the file is empty; a key file starts with the header \"id,access,name\""));
    out.keys = sortedKeys(std::move(out.keys));
    out.ok = true;
    return out;
}

QByteArray formatKeyCsv(const KeyList& keys)
{
    QString out = QStringLiteral("id,access,name\r\n");
    for (const Key& k : keys)
        out += QStringLiteral("%1,%2,%3\r\n").arg(k.id).arg(k.access).arg(quoted(k.name));
    return out.toUtf8();
}

} // namespace terminalops

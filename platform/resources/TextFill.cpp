#include "platform/resources/TextFill.h"

#include "platform/resources/Resources.h"

#include <QStringList>

namespace resources {

QString formatText(const QString& format, const std::vector<FormatArg>& args)
{
    QString out;
    std::size_t next = 0;
    const qsizetype n = format.size();
    for (qsizetype i = 0; i < n; ++i) {
        const QChar c = format[i];
        if (c != QLatin1Char('%') || i + 1 >= n) {
            out += c;
            continue;
        }
        qsizetype j = i + 1;
        if (format[j] == QLatin1Char('%')) {
            out += QLatin1Char('%');
            i = j;
            continue;
        }
        bool leftAlign = false, zeroPad = false;
        for (; j < n && QStringLiteral("-0+ #").contains(format[j]); ++j) {
            if (format[j] == QLatin1Char('-'))
                leftAlign = true;
            else if (format[j] == QLatin1Char('0'))
                zeroPad = true;
        }
        int width = 0;
        for (; j < n && format[j].isDigit(); ++j)
            width = std::min(width * 10 + format[j].digitValue(), 1000);
        int precision = -1;
        if (j < n && format[j] == QLatin1Char('.')) {
            precision = 0;
            for (++j; j < n && format[j].isDigit(); ++j)
                precision = std::min(precision * 10 + format[j].digitValue(), 1000);
        }
        while (j < n && (format[j] == QLatin1Char('l') || format[j] == QLatin1Char('h')))
            ++j;
        if (j >= n) {   // a lone '%' at the end: shown as it stands
            out += format.mid(i);
            break;
        }
        const char conversion = format[j].toLatin1();
        const FormatArg* arg = next < args.size() ? &args[next] : nullptr;
        QString piece;
        bool numeric = true;
        switch (conversion) {
        case 's':
            numeric = false;
            piece = arg && arg->isText ? arg->text : QString();
            if (precision >= 0)
                piece.truncate(precision);
            break;
        case 'c':
            numeric = false;
            if (arg && !arg->isText)
                piece = QChar(static_cast<char16_t>(arg->number & 0xFF));
            else if (arg)
                piece = arg->text.left(1);
            break;
        case 'd':
        case 'i':
            piece = QString::number(arg && !arg->isText ? arg->number : 0);
            break;
        case 'u':
            piece = QString::number(arg && !arg->isText ? static_cast<quint32>(arg->number) : 0u);
            break;
        case 'x':
        case 'X':
            piece = QString::number(arg && !arg->isText ? static_cast<quint32>(arg->number) : 0u, 16);
            if (conversion == 'X')
                piece = piece.toUpper();
            break;
        default:   // not a conversion we know: shown as it stands
            out += format.mid(i, j - i + 1);
            i = j;
            continue;
        }
        ++next;
        if (numeric && precision >= 0 && piece.size() < precision) {
            const bool negative = piece.startsWith(QLatin1Char('-'));
            const QString digits = negative ? piece.mid(1) : piece;
            piece = (negative ? QStringLiteral("-") : QString()) + digits.rightJustified(precision, QLatin1Char('0'));
        }
        if (piece.size() < width) {
            if (leftAlign)
                piece = piece.leftJustified(width, QLatin1Char(' '));
            else if (zeroPad && numeric && precision < 0) {
                const bool negative = piece.startsWith(QLatin1Char('-'));
                const QString digits = negative ? piece.mid(1) : piece;
                piece = (negative ? QStringLiteral("-") : QString())
                        + digits.rightJustified(width - (negative ? 1 : 0), QLatin1Char('0'));
            } else
                piece = piece.rightJustified(width, QLatin1Char(' '));
        }
        out += piece;
        i = j;
    }
    return out;
}

QString formatString(int id, const std::vector<FormatArg>& args) { return formatText(loadString(id), args); }

} // namespace resources

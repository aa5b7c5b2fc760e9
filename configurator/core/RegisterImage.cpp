#include "core/RegisterImage.h"

namespace image {

bool isBlank(char16_t c) { return c == u' ' || (c >= u'\t' && c <= u'\r'); }

int hexDigit(char16_t c)
{
    if (c >= u'0' && c <= u'9')
        return c - u'0';
    if (c >= u'a' && c <= u'f')
        return c - u'a' + 10;
    if (c >= u'A' && c <= u'F')
        return c - u'A' + 10;
    return -1;
}

std::optional<quint16> scanWord(const QString& text)
{
    qsizetype i = 0;
    while (i < text.size() && isBlank(text[i].unicode()))
        ++i;
    unsigned value = 0;
    int digits = 0;
    for (; i < text.size() && digits < 4; ++i, ++digits) {
        const int d = hexDigit(text[i].unicode());
        if (d < 0)
            break;
        value = value * 16 + static_cast<unsigned>(d);
    }
    if (digits == 0)
        return std::nullopt;
    return static_cast<quint16>(value);   // at most four digits: fits
}

QString formatWord(quint16 value) { return QStringLiteral("%1").arg(value, 4, 16, QLatin1Char('0')).toUpper(); }

} // namespace image

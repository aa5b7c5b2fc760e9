#include "core/ActFile.h"

#include <QIODevice>
#include <QSaveFile>

#include <array>

namespace act {

namespace {

bool isBlank(char c) { return image::isBlank(static_cast<unsigned char>(c)); }

bool isDecimal(char c) { return c >= '0' && c <= '9'; }

enum class LineKind { Skip, Word, Invalid };

struct ParsedLine {
    LineKind kind = LineKind::Skip;
    int address = 0;
    QString token;
    QString reason;
};

ParsedLine parseLine(const QByteArray& line)
{
    ParsedLine out;
    qsizetype i = 0;
    const qsizetype n = line.size();
    while (i < n && isBlank(line[i]))
        ++i;
    if (i == n)
        return out;  // blank line

    auto invalid = [&](const char* why) {
        out.kind = LineKind::Invalid;
        out.reason = QString::fromLatin1(why);
        return out;
    };

    // Address: one or two decimal digits, or a sign with one digit (always
    // out of range then, but it is an address all the same).
    // A line that does not start with a number holds no address and is
    // passed over.
    const bool sign = line[i] == '-' || line[i] == '+';
    if (sign && !(i + 1 < n && isDecimal(line[i + 1])))
        return out;
    if (!sign && !isDecimal(line[i]))
        return out;
    int value = 0;
    const qsizetype start = i;
    if (sign)
        ++i;
    while (i < n && i - start < 2 && isDecimal(line[i]))
        value = value * 10 + (line[i++] - '0');
    if (sign && line[start] == '-')
        value = -value;
    if (i < n && !isBlank(line[i]))
        return invalid("address not followed by a blank");
    if (value < image::kFirstWord || value > image::kLastWord)
        return invalid("address outside 10..39");

    while (i < n && isBlank(line[i]))
        ++i;
    const qsizetype tokenStart = i;
    while (i < n && !isBlank(line[i]))
        ++i;
    const QByteArray token = line.mid(tokenStart, i - tokenStart);
    if (token.isEmpty())
        return invalid("value missing");
    if (token.size() > 4)
        return invalid("value longer than four digits");
    unsigned word = 0;
    for (char c : token) {
        const int digit = image::hexDigit(static_cast<unsigned char>(c));
        if (digit < 0)
            return invalid("value is not hexadecimal");
        word = word * 16 + static_cast<unsigned>(digit);
    }
    out.kind = LineKind::Word;
    out.address = value;
    // Stored as the word it means, so that every reader of the image (the
    // pages, the serial write, the remote write body) sees the same value.
    out.token = QString::asprintf("%04X", word);
    return out;
}

} // namespace

QByteArray formatImage(const image::IRegisterImage& image)
{
    QByteArray out;
    out.reserve(image::kWordCount * 9);
    for (int a = image::kFirstWord; a <= image::kLastWord; ++a) {
        const unsigned v = image::scanWord(image.word(a)).value_or(0);
        out += QString::asprintf("%02d %04X\r\n", a, v).toLatin1();
    }
    return out;
}

LoadResult loadImage(QIODevice& device, image::IRegisterImage& image)
{
    LoadResult result;
    // The words are collected first and stored at the end: a word named
    // twice takes the later value either way, and a long file of valid
    // lines does not call into the control once per line.
    std::array<std::optional<QString>, image::kWordCount> staged;
    auto apply = [&] {
        for (int k = 0; k < image::kWordCount; ++k) {
            if (staged[static_cast<std::size_t>(k)])
                image.setWord(image::kFirstWord + k, *staged[static_cast<std::size_t>(k)]);
        }
    };

    if (!device.isSequential())
        device.seek(0);
    int lineNo = 0;
    while (!device.atEnd()) {
        QByteArray line = device.readLine(kMaxLineLength + 2);
        if (line.isEmpty())
            break;  // read error
        ++lineNo;
        const bool complete = line.endsWith('\n') || device.atEnd();
        if (lineNo == 1 && line.startsWith("\xEF\xBB\xBF"))
            line.remove(0, 3);
        ParsedLine parsed;
        if (!complete) {
            parsed.kind = LineKind::Invalid;
            parsed.reason = QStringLiteral("line too long");
        } else {
            parsed = parseLine(line);
            if (lineNo == 1 && parsed.kind == LineKind::Skip) {
                parsed.kind = LineKind::Invalid;
                parsed.reason = QStringLiteral("the first line holds no word");
            }
        }
        if (parsed.kind == LineKind::Invalid) {
            result.ok = false;
            result.invalidLine = lineNo;
            result.reason = parsed.reason;
            break;
        }
        if (parsed.kind == LineKind::Word) {
            staged[static_cast<std::size_t>(parsed.address - image::kFirstWord)] = parsed.token;
            ++result.wordsStored;
        }
    }
    apply();
    return result;
}

bool saveImageFile(const QString& path, const image::IRegisterImage& image, QString* error)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        if (error)
            *error = file.errorString();
        return false;
    }
    const QByteArray data = formatImage(image);
    if (file.write(data) != data.size()) {
        if (error)
            *error = file.errorString();
        file.cancelWriting();
        return false;
    }
    if (!file.commit()) {
        if (error)
            *error = file.errorString();
        return false;
    }
    return true;
}

} // namespace act

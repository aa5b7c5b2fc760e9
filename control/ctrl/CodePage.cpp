#include "control/ctrl/CodePage.h"

#include "platform/folders/UserFolders.h"

#include <QDir>
#include <QLoggingCategory>
#include <QSettings>

#include <cerrno>
#include <cstdint>
#include <iconv.h>
#include <mutex>

Q_LOGGING_CATEGORY(lcCodePage, "rk40comm.codepage")

namespace rk40 {

namespace {

constexpr const char* kUtf8 = "UTF-8";

class Converter {
public:
    Converter(const QByteArray& to, const QByteArray& from) : m_cd(iconv_open(to.constData(), from.constData())) {}
    ~Converter()
    {
        if (valid())
            iconv_close(m_cd);
    }
    Converter(const Converter&) = delete;
    Converter& operator=(const Converter&) = delete;
    bool valid() const { return m_cd != reinterpret_cast<iconv_t>(-1); }

    // Converts one input byte on its own from the initial state: 0 with
    // the output in `out`, otherwise the error (EILSEQ: the byte means
    // nothing; EINVAL: it only starts a longer sequence).
    int single(std::uint8_t byte, std::string* out) const
    {
        char in[1] = {static_cast<char>(byte)};
        char buffer[32];
        char* inPtr = in;
        std::size_t inLeft = 1;
        char* outPtr = buffer;
        std::size_t outLeft = sizeof buffer;
        iconv(m_cd, nullptr, nullptr, nullptr, nullptr);
        if (iconv(m_cd, &inPtr, &inLeft, &outPtr, &outLeft) == static_cast<std::size_t>(-1))
            return errno;
        iconv(m_cd, nullptr, nullptr, &outPtr, &outLeft);
        out->assign(buffer, static_cast<std::size_t>(outPtr - buffer));
        return 0;
    }

    // Converts all of `in`; where the input cannot be converted, `skip`
    // says how many input bytes to pass over and `replacement` goes out
    // instead.
    template <typename Skip>
    std::string run(std::string_view in, std::string_view replacement, Skip skip) const
    {
        std::string out;
        if (!valid())
            return out;
        char buffer[256];
        char* inPtr = const_cast<char*>(in.data());
        std::size_t inLeft = in.size();
        iconv(m_cd, nullptr, nullptr, nullptr, nullptr);
        while (inLeft > 0) {
            char* outPtr = buffer;
            std::size_t outLeft = sizeof buffer;
            const std::size_t r = iconv(m_cd, &inPtr, &inLeft, &outPtr, &outLeft);
            const int error = r == static_cast<std::size_t>(-1) ? errno : 0;
            out.append(buffer, static_cast<std::size_t>(outPtr - buffer));
            if (error == E2BIG)
                continue;
            if (error != 0) { // EILSEQ or EINVAL (cut short): replace and go on
                const std::size_t n = std::min(inLeft, std::max<std::size_t>(1, skip(inPtr, inLeft)));
                inPtr += n;
                inLeft -= n;
                out.append(replacement);
            }
        }
        char* outPtr = buffer;
        std::size_t outLeft = sizeof buffer;
        iconv(m_cd, nullptr, nullptr, &outPtr, &outLeft); // shift back to the initial state
        out.append(buffer, static_cast<std::size_t>(outPtr - buffer));
        return out;
    }

private:
    iconv_t m_cd;
};

// The length of the UTF-8 sequence starting at `p`.
std::size_t utf8Length(const char* p, std::size_t left)
{
    const auto lead = static_cast<unsigned char>(*p);
    std::size_t n = lead < 0x80 ? 1 : lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
    return std::min(n, left);
}

// Whether the code page carries one character per byte and keeps the
// ASCII characters as they are: every byte stands alone (no byte starts
// a longer sequence) and is at most one character, and ASCII text goes
// out unchanged (no byte-order mark, no escapes).
bool isSingleByte(const Converter& decoder, const Converter& encoder)
{
    for (int b = 0; b <= 0xFF; ++b) {
        std::string utf8;
        const int error = decoder.single(static_cast<std::uint8_t>(b), &utf8);
        if (error == EILSEQ && b >= 0x80)
            continue; // a byte the code page leaves unassigned
        if (error != 0 || utf8.empty() || utf8Length(utf8.data(), utf8.size()) != utf8.size())
            return false;
        if (b < 0x80 && utf8 != std::string(1, static_cast<char>(b)))
            return false;
    }
    std::string ascii;
    for (char c = 0x20; c < 0x7F; ++c)
        ascii += c;
    return encoder.run(ascii, "?", utf8Length) == ascii;
}

} // namespace

QString CodePage::profilePath()
{
    return userfolders::path(userfolders::Kind::Config, QStringLiteral("RK40COMM.conf"));
}

CodePage CodePage::fromProfile()
{
    const QSettings profile(profilePath(), QSettings::IniFormat);
    const QString name = profile.value(QStringLiteral("Settings/CodePage")).toString().trimmed();
    return CodePage(name.isEmpty() ? QString::fromLatin1(kDefaultName) : name);
}

// Both directions of one code page, opened once and shared by the copies
// of a CodePage; iconv keeps state in a descriptor, so a conversion holds
// the lock.
struct CodePage::Converters {
    explicit Converters(const QByteArray& name) : toUtf8(kUtf8, name), fromUtf8(name, kUtf8) {}
    bool usable() const { return toUtf8.valid() && fromUtf8.valid() && isSingleByte(toUtf8, fromUtf8); }
    Converter toUtf8;
    Converter fromUtf8;
    std::mutex mutex;
};

CodePage::CodePage(const QString& name) : m_name(name)
{
    if (!name.isEmpty())
        m_converters = std::make_shared<Converters>(name.toLatin1());
    if (!m_converters || !m_converters->usable()) {
        qCWarning(lcCodePage) << "code page" << name
                              << "is not known or not one byte per character; using" << kDefaultName;
        m_name = QString::fromLatin1(kDefaultName);
        m_converters = std::make_shared<Converters>(QByteArray(kDefaultName));
    }
}

QString CodePage::toUnicode(std::string_view bytes) const
{
    const std::lock_guard lock(m_converters->mutex);
    const std::string utf8 =
        m_converters->toUtf8.run(bytes, "\xEF\xBF\xBD", [](const char*, std::size_t) { return std::size_t(1); });
    return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
}

std::string CodePage::fromUnicode(const QString& text) const
{
    const QByteArray utf8 = text.toUtf8();
    const std::lock_guard lock(m_converters->mutex);
    return m_converters->fromUtf8.run(std::string_view(utf8.constData(), static_cast<std::size_t>(utf8.size())), "?",
                                      utf8Length);
}

} // namespace rk40

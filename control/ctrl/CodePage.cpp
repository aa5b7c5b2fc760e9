#include "CodePage.h"

#include <QDir>
#include <QLoggingCategory>
#include <QSettings>

#include <cerrno>
#include <iconv.h>

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

} // namespace

QString CodePage::profilePath()
{
    QString base = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (base.isEmpty())
        base = QDir::homePath() + QStringLiteral("/.config");
    return base + QStringLiteral("/Veltrona/RK40COMM.conf");
}

CodePage CodePage::fromProfile()
{
    const QSettings profile(profilePath(), QSettings::IniFormat);
    const QString name = profile.value(QStringLiteral("Settings/CodePage")).toString().trimmed();
    return CodePage(name.isEmpty() ? QString::fromLatin1(kDefaultName) : name);
}

CodePage::CodePage(const QString& name) : m_name(name)
{
    const QByteArray native = name.toLatin1();
    if (name.isEmpty() || !Converter(kUtf8, native).valid() || !Converter(native, kUtf8).valid()) {
        qCWarning(lcCodePage) << "code page" << name << "is not known; using" << kDefaultName;
        m_name = QString::fromLatin1(kDefaultName);
    }
}

QString CodePage::toUnicode(std::string_view bytes) const
{
    const Converter c(kUtf8, m_name.toLatin1());
    const std::string utf8 = c.run(bytes, "\xEF\xBF\xBD", [](const char*, std::size_t) { return std::size_t(1); });
    return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
}

std::string CodePage::fromUnicode(const QString& text) const
{
    const QByteArray utf8 = text.toUtf8();
    const Converter c(m_name.toLatin1(), kUtf8);
    return c.run(std::string_view(utf8.constData(), static_cast<std::size_t>(utf8.size())), "?", utf8Length);
}

} // namespace rk40

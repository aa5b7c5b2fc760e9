#pragma once

// The code page of texts exchanged with the terminal (messages, day and
// week types, status texts, records): the terminal stores one byte per
// character, the control works in Unicode. The per-user setting "CodePage"
// (section "Settings" of the control's profile, the INI file
// Veltrona/RK40COMM.conf in the user's configuration folder) names it. Only
// a code page of one byte per character that keeps ASCII as it is will do
// (the line carries bytes, and a zero byte or a byte-order mark would end or
// spoil a frame); "windows-1250" is the default and takes the place of any
// other name. Its converters are opened once and shared by copies.

#include <QString>

#include <memory>
#include <string>
#include <string_view>

namespace rk40 {

class CodePage {
public:
    static constexpr const char* kDefaultName = "windows-1250";

    // The profile the setting is read from.
    static QString profilePath();
    // The code page the profile names (the default without a setting).
    static CodePage fromProfile();

    // `name` must be a single-byte code page iconv knows; otherwise the
    // default is used and a log line says so.
    explicit CodePage(const QString& name = QString::fromLatin1(kDefaultName));

    QString name() const { return m_name; }
    // Bytes from the terminal; a byte that means nothing in the code page
    // becomes U+FFFD.
    QString toUnicode(std::string_view bytes) const;
    // Text for the terminal; a character the code page lacks becomes "?".
    std::string fromUnicode(const QString& text) const;

private:
    struct Converters;
    QString m_name;
    std::shared_ptr<Converters> m_converters;
};

} // namespace rk40

#pragma once

// The code page of texts exchanged with the terminal (messages, day and
// week types, status texts, records): the terminal stores one byte per
// character, the control works in Unicode. The per-user setting "CodePage"
// (section "Settings" of the control's profile, the INI file
// Veltrona/RK40COMM.conf in the user's configuration folder) names it; any
// name iconv knows is accepted, "windows-1250" is the default and takes the
// place of a name iconv does not know.

#include <QString>

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

    // `name` must be known to iconv; otherwise the default is used and a
    // log line says so.
    explicit CodePage(const QString& name = QString::fromLatin1(kDefaultName));

    QString name() const { return m_name; }
    // Bytes from the terminal; a byte that means nothing in the code page
    // becomes U+FFFD.
    QString toUnicode(std::string_view bytes) const;
    // Text for the terminal; a character the code page lacks becomes "?".
    std::string fromUnicode(const QString& text) const;

private:
    QString m_name;
};

} // namespace rk40

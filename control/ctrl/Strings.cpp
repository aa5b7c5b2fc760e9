#include "control/ctrl/Strings.h"

#include <QLocale>

namespace rk40 {

Language languageFor(const QStringList& uiLanguages)
{
    for (const QString& tag : uiLanguages) {
        const QString code = tag.section(QLatin1Char('-'), 0, 0).section(QLatin1Char('_'), 0, 0).toLower();
        if (code == QLatin1String("hu"))
            return Language::Hungarian;
        // The Croatian table is written in the Latin script shared with
        // Serbian and Bosnian.
        if (code == QLatin1String("hr") || code == QLatin1String("sr") || code == QLatin1String("bs"))
            return Language::Croatian;
        if (code == QLatin1String("en"))
            return Language::English;
    }
    return Language::English;
}

Language uiLanguage()
{
    return languageFor(QLocale::system().uiLanguages());
}

QString controlString(int id, Language language)
{
    switch (id) {
    case 1: return QStringLiteral("RK40Comm Control");
    case 2: return QStringLiteral("RK40Comm Property Page");
    case 100: return QStringLiteral("General");
    default: break;
    }
    if (id < 101 || id > 108)
        return {};
    static const char16_t* const english[] = {u"Monday", u"Tuesday", u"Wednesday", u"Thursday",
                                              u"Friday", u"Saturday", u"Sunday", u"Error"};
    static const char16_t* const hungarian[] = {u"Hétfő", u"Kedd", u"Szerda", u"Csütörtök",
                                                u"Péntek", u"Szombat", u"Vasárnap", u"Hiba"};
    static const char16_t* const croatian[] = {u"Ponedeljak", u"Utorak", u"Sreda", u"Cetvrtak",
                                               u"Petak", u"Subota", u"Nedelja", u"Pogresan"};
    const char16_t* const* table = language == Language::Hungarian  ? hungarian
                                   : language == Language::Croatian ? croatian
                                                                    : english;
    return QString::fromUtf16(table[id - 101]);
}

} // namespace rk40

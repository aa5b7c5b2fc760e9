#pragma once

// The control's own string table, in the three languages it ships with:
// the class names and page caption (the same in every language) and the
// weekday names with "Error" used for the terminal's clock.

#include <QString>
#include <QStringList>

namespace rk40 {

enum class Language { English, Hungarian, Croatian };

// The language of the table for a list of user-interface languages in order
// of preference ("hu-HU", "hr", "sr-Latn", ...): the first one the control
// has; English when none matches.
Language languageFor(const QStringList& uiLanguages);
// The language of this session's user interface (LANGUAGE, LC_ALL,
// LC_MESSAGES, LANG, as the system locale reports them).
Language uiLanguage();

// The text of string `id` (1, 2, 100, 101..108); empty for another id.
QString controlString(int id, Language language);

} // namespace rk40

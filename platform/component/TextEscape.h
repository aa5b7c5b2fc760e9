#pragma once

// Backslash escapes for values kept one per line in the registry file and
// in a property bag's text form: \\, \n and \r.

#include <QString>

namespace component {

QString escapeLineText(const QString& s);
QString unescapeLineText(const QString& s);

} // namespace component

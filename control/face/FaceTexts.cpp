#include "control/face/FaceTexts.h"

#include <array>
#include <utility>

namespace rk40::face {

namespace {

struct Entry {
    int id;
    const char* text;
};

// The same in every language the configurator offers, so one table serves.
constexpr std::array kStrings{
    Entry{str::ControlName, "RK40Comm Control"},
    Entry{str::PropPageName, "RK40Comm Property Page"},
    Entry{str::General, "General"},
};

} // namespace

QString faceString(int id)
{
    for (const Entry& e : kStrings) {
        if (e.id == id)
            return QString::fromLatin1(e.text);
    }
    return {};
}

QString aboutCaption()
{
    return QStringLiteral("About RK40Comm Control");
}

QString aboutTitleLine()
{
    return QStringLiteral("RK40Comm Control, Version 1.0");
}

QString aboutSecondLine()
{
    return QStringLiteral("Serial communication with RK-40 door terminals, protocol 6.29");
}

QString okButtonText()
{
    return QStringLiteral("OK");
}

QString propPagePlaceholder()
{
    return QStringLiteral("The RK40Comm control has no properties to set here.");
}

} // namespace rk40::face

#include "pages/DialogUnits.h"

#include <QFontMetricsF>
#include <QString>
#include <cmath>

DialogUnits::DialogUnits(const QFont& font)
{
    const QFontMetricsF fm(font);
    static const QString alphabet = QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
    const double avg = fm.horizontalAdvance(alphabet) / 52.0;
    if (avg > 0.5)
        m_baseX = avg;
    if (fm.height() > 1.0)
        m_baseY = fm.height();
}

int DialogUnits::x(int dlu) const { return static_cast<int>(std::lround(dlu * m_baseX / 4.0)); }
int DialogUnits::y(int dlu) const { return static_cast<int>(std::lround(dlu * m_baseY / 8.0)); }

QRect DialogUnits::rect(int left, int top, int width, int height) const
{
    const int l = x(left), t = y(top);
    return QRect(l, t, x(left + width) - l, y(top + height) - t);
}

QSize DialogUnits::size(int width, int height) const { return QSize(x(width), y(height)); }

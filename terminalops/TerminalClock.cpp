#include "terminalops/TerminalClock.h"

#include <QRegularExpression>

namespace terminalops {

std::optional<QDateTime> parseTerminalClock(const QString& rtc)
{
    static const QRegularExpression form(QStringLiteral("^(\\d\\d)\\.(\\d\\d)\\.(\\d\\d).(\\d\\d):(\\d\\d)$"));
    const QRegularExpressionMatch m = form.match(rtc.trimmed());
    if (!m.hasMatch())
        return std::nullopt;
    const QDate date(2000 + m.captured(3).toInt(), m.captured(2).toInt(), m.captured(1).toInt());
    const QTime time(m.captured(4).toInt(), m.captured(5).toInt());
    if (!date.isValid() || !time.isValid())
        return std::nullopt;
    return QDateTime(date, time);
}

qint64 clockDifferenceMinutes(const QDateTime& terminal, const QDateTime& machine)
{
    const QDateTime m(machine.date(), QTime(machine.time().hour(), machine.time().minute()));
    return m.secsTo(terminal) / 60;
}

} // namespace terminalops

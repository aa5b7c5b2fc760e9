#pragma once

// The terminal's clock as its status reports it ("dd.mm.yy hh:mm", the
// weekday apart) against this machine's. Pure functions.

#include <QDateTime>
#include <QString>

#include <optional>

namespace terminalops {

// The clock text of a status read as a local date and time (two-digit
// years from 2000); nothing when it is not such a text.
std::optional<QDateTime> parseTerminalClock(const QString& rtc);

// Whole minutes from `machine` to `terminal` (positive: the terminal is
// ahead), both taken to the minute as the terminal keeps its clock.
qint64 clockDifferenceMinutes(const QDateTime& terminal, const QDateTime& machine);

} // namespace terminalops

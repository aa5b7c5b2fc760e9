#pragma once

// Events as text: the CSV that `query` prints and the HTTP API serves, and
// the date-and-time filters both take.

#include "Store.h"

#include <QString>
#include <QStringList>

namespace collector {

// "YYYY-MM-DD", "YYYY-MM-DD HH:MM" (a 'T' or seconds allowed, seconds
// dropped) normalised into `when`; false when it is neither.
bool normaliseWhen(QString* when);

// An RFC 4180 field; a cell a spreadsheet would take for a formula is made text.
QString csvField(const QString& text);

// The columns, and one event's cells (control characters shown as escapes).
const QStringList& eventColumns();
QStringList eventCells(const EventRow& row);
// One CSV line, CRLF ended.
QString eventCsvLine(const QStringList& cells);

} // namespace collector

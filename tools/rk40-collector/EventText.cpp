#include "EventText.h"

#include "platform/component/TextEscape.h"

#include <QDateTime>

namespace collector {

bool normaliseWhen(QString* when)
{
    QString w = when->trimmed();
    w.replace('T', ' ');
    if (w.size() == 10 && QDate::fromString(w, "yyyy-MM-dd").isValid()) {
        *when = w;
        return true;
    }
    if (w.size() == 19)
        w.chop(3);  // seconds: events carry minutes only
    if (w.size() == 16 && QDateTime::fromString(w, "yyyy-MM-dd HH:mm").isValid()) {
        *when = w;
        return true;
    }
    return false;
}

QString csvField(const QString& text)
{
    static const QString formulaStarts = QStringLiteral("=+-@\t\r");
    const QString v = !text.isEmpty() && formulaStarts.contains(text[0]) ? "'" + text : text;
    if (!v.contains(',') && !v.contains('"') && !v.contains('\r') && !v.contains('\n'))
        return v;
    QString q = v;
    q.replace('"', "\"\"");
    return '"' + q + '"';
}

const QStringList& eventColumns()
{
    static const QStringList columns = {"id", "received_at", "port", "terminal", "event_date",
                                        "event_time", "source", "card", "raw"};
    return columns;
}

QStringList eventCells(const EventRow& r)
{
    QStringList f{QString::number(r.id), r.receivedAt, r.port, r.terminal ? QString::number(*r.terminal) : QString(),
                  r.eventDate, r.eventTime, r.source, r.card, r.raw};
    for (QString& v : f)
        v = component::consoleText(v);
    return f;
}

QString eventCsvLine(const QStringList& cells)
{
    QStringList out;
    for (const QString& v : cells)
        out << csvField(v);
    return out.join(',') + "\r\n";
}

} // namespace collector

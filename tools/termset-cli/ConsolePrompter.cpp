#include "ConsolePrompter.h"

#include "platform/component/TextEscape.h"

#include <QStringList>

#include <cstdio>

namespace termsetcli {

namespace {

void writeTo(std::FILE* stream, const QString& text)
{
    const QByteArray bytes = text.toLocal8Bit();
    std::fwrite(bytes.constData(), 1, static_cast<std::size_t>(bytes.size()), stream);
    std::fflush(stream);
}

QString withLineEnd(const QString& text)
{
    return text.endsWith(QLatin1Char('\n')) ? text : text + QLatin1Char('\n');
}

} // namespace

// Messages carry terminal and gateway texts: their control characters are
// shown as escapes, never sent to the console as they are.
QString complaintLine(const QString& text)
{
    return withLineEnd(QStringLiteral("termset-cli: ") + component::consoleText(text));
}

ConsolePrompter::ConsolePrompter()
    : ConsolePrompter([](const QString& t) { writeTo(stdout, t); }, [](const QString& t) { writeTo(stderr, t); })
{
}

ConsolePrompter::ConsolePrompter(Sink out, Sink err) : m_out(std::move(out)), m_err(std::move(err)) {}

void ConsolePrompter::message(QWidget*, const QString& text, ui::Look look, const QString&)
{
    if (look == ui::Look::Information)
        m_out(withLineEnd(component::consoleText(text)));
    else
        complain(text);
}

bool ConsolePrompter::askYesNo(QWidget*, const QString& text, const QString&)
{
    complain(text + QStringLiteral(" No."));
    return false;
}

void ConsolePrompter::complain(const QString& text) const { m_err(complaintLine(text)); }

ConsolePrompter ConsolePrompter::forTarget(const QString& target)
{
    const QString lead = component::consoleText(target) + QStringLiteral(": ");
    auto prefixed = [lead](std::FILE* stream) {
        return [lead, stream](const QString& text) {
            QStringList lines = text.split(QLatin1Char('\n'));
            if (lines.last().isEmpty())
                lines.removeLast();
            QString out;
            for (const QString& line : lines)
                out += lead + line + QLatin1Char('\n');
            writeTo(stream, out);
        };
    };
    return ConsolePrompter(prefixed(stdout), prefixed(stderr));
}

} // namespace termsetcli

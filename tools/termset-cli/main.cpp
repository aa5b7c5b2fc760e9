// termset-cli: scripted reads, writes and status queries of RK-40 terminals,
// and readable configurations, with the code Termset itself runs.

#include "core/AppPaths.h"
#include "core/LanguageSearch.h"
#include "core/CRK40Comm.h"
#include "CliArguments.h"
#include "Commands.h"
#include "ConsolePrompter.h"
#include "core/Profile.h"

#include <QCoreApplication>
#include <QLoggingCategory>
#include <QStringList>

#include <cstdio>

using namespace termsetcli;

namespace {

void print(const QString& text)
{
    const QByteArray bytes = text.toLocal8Bit();
    std::fwrite(bytes.constData(), 1, static_cast<std::size_t>(bytes.size()), stdout);
    std::fflush(stdout);
}

// Loads the language library the texts are to come from: the one named on
// the command line, or else Termset's choice. English is built in.
bool chooseLanguage(LanguageSearch& languages, const QString& requested, ConsolePrompter& prompter)
{
    const QString name = requested.isEmpty() ? Profile().language() : requested;
    if (languages.Search(apppaths::programFolder(), name) || requested.isEmpty()
        || requested.compare(QLatin1String("English"), Qt::CaseInsensitive) == 0)
        return true;
    QStringList known{QStringLiteral("English")};
    for (const LanguageSearch::Entry& entry : languages.entries())
        known << entry.languageName;
    prompter.complain(QStringLiteral("no language library for \"%1\" (known: %2)").arg(requested, known.join(", ")));
    return false;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("termset-cli"));
    QCoreApplication::setApplicationVersion(QStringLiteral(TERMSET_CLI_VERSION));

    // The libraries' diagnostic traces would repeat what the messages say;
    // QT_LOGGING_RULES still switches them on.
    if (qEnvironmentVariableIsEmpty("QT_LOGGING_RULES"))
        QLoggingCategory::setFilterRules(QStringLiteral("termset.*=false\nrk40comm.*=false"));

    ConsolePrompter prompter;

    const ParseResult parsed = parseArguments(app.arguments().mid(1));
    if (!parsed.arguments) {
        prompter.complain(parsed.error + QStringLiteral("\nTry 'termset-cli --help'."));
        return kExitUsage;
    }
    const Arguments& args = *parsed.arguments;
    if (args.command == Command::Help) {
        print(helpText());
        return kExitOk;
    }
    if (args.command == Command::Version) {
        print(QStringLiteral("termset-cli %1\n").arg(QCoreApplication::applicationVersion()));
        return kExitOk;
    }

    // Like Termset, register the control that ships beside the program when
    // nothing is registered yet.
    CRK40Comm::setOwnModule(apppaths::controlModulePath());
    LanguageSearch languages;
    if (!chooseLanguage(languages, args.language, prompter))
        return kExitUsage;
    return runCommand(args, prompter);
}

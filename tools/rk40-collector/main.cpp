// rk40-collector: collects the terminals' event blocks around the clock.
//   run    hosts one control per port in on-line mode, keeps every record
//          of the register file in an SQLite store and optionally publishes
//          it over MQTT;
//   query  prints stored events.

#include "Accounts.h"
#include "ApiService.h"
#include "platform/folders/UserFolders.h"
#include "Collector.h"
#include "ConfigurationService.h"
#include "EventText.h"
#include "HttpOptions.h"
#include "HttpTransport.h"
#include "NameBook.h"
#include "WebPage.h"
#include "PasswordInput.h"
#include "PrivateFiles.h"
#include "StoreWorker.h"
#include "TerminalService.h"
#include "InstanceLock.h"
#include "Mqtt.h"
#include "Store.h"
#include "platform/component/TextEscape.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QList>
#include <QSettings>
#include <QSocketNotifier>
#include <QTextStream>

#include <QDateTime>
#include <QElapsedTimer>
#include <QThread>

#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

int g_signalPipe[2] = {-1, -1};

void onSignal(int signal)
{
    const char c = static_cast<char>(signal);
    [[maybe_unused]] const auto n = ::write(g_signalPipe[1], &c, 1);
}

// Under systemd standard error goes to the journal; a "<N>" prefix gives
// each line its priority there.
void logHandler(QtMsgType type, const QMessageLogContext&, const QString& message)
{
    static const bool journal = !qEnvironmentVariableIsEmpty("JOURNAL_STREAM");
    int priority = 6;
    const char* label = "";
    switch (type) {
    case QtDebugMsg: priority = 7; break;
    case QtInfoMsg: priority = 6; break;
    case QtWarningMsg: priority = 4; label = "warning: "; break;
    case QtCriticalMsg: priority = 3; label = "error: "; break;
    case QtFatalMsg: priority = 2; label = "fatal: "; break;
    }
    const QByteArray text = component::consoleText(message).toLocal8Bit();
    if (journal)
        std::fprintf(stderr, "<%d>%s\n", priority, text.constData());
    else
        std::fprintf(stderr, "rk40-collector: %s%s\n", label, text.constData());
    std::fflush(stderr);
    if (type == QtFatalMsg)
        std::abort();
}

QString dataFolder()
{
    return userfolders::path(userfolders::Kind::Data, QStringLiteral("rk40-collector"));
}

void printHelp(QTextStream& out)
{
    out << "usage: rk40-collector run [OPTIONS]\n"
           "       rk40-collector query [--db FILE] [FILTERS] [--format table|csv|json]\n"
           "       rk40-collector rotate [--config FILE] [--register-file PATH] [--db FILE]\n"
           "\n"
           "run: collects the event blocks of every port into the register file and the store.\n"
           "  --port PORT[:BAUD]       COM1..COM10 or a device path, baud 9600 by default; repeatable\n"
           "  --config FILE            INI file with the settings below (the command line wins)\n"
           "  --register-file PATH     default $XDG_DATA_HOME/Veltrona/rk40-collector/reg.txt\n"
           "  --db FILE                default $XDG_DATA_HOME/Veltrona/rk40-collector/events.sqlite\n"
           "  --mqtt HOST[:PORT]       publish each event to PREFIX/<terminal>/event, QoS 1\n"
           "  --mqtt-topic PREFIX      default rk40\n"
           "  --mqtt-user USER, --mqtt-password-file FILE (first line; readable by its owner alone),\n"
           "  --mqtt-cafile FILE (TLS)  (--mqtt-password PASSWORD is seen by every user in ps)\n"
           "  --sync-clock HH:MM       set every terminal's clock at start and daily at HH:MM\n"
           "  --min-free-kib N         take no blocks while the register file's or the store's file\n"
           "                           system has less free space (default 1024)\n"
           "  --http [ADDRESS:]PORT    serve the HTTP API (address 127.0.0.1 unless given; any other\n"
           "                           than loopback needs TLS)\n"
           "  --names FILE             a key file (id,access,name) whose names the web page shows beside the cards\n"
           "  --http-cert FILE, --http-key FILE   PEM certificate and key: the API speaks HTTPS\n"
           "  --transfer-log FILE      the transfer log configuration writes append to; keys.log beside it\n"
           "                           (default: the transfer log of termset-cli and Termset)\n"
           "  SIGHUP: look at the register file now (after renaming it, the controls switch to a new one)\n"
           "rotate: renames the register file to PATH.YYYYMMDD-HHMMSS; a running collector stores the\n"
           "  rest of it and switches to a new file before rotate returns.\n"
           "user add NAME --role viewer|admin [--password-file FILE]   (the password is asked without echo)\n"
           "user remove NAME, user list: the accounts of the HTTP API\n"
           "token add NAME --role viewer|admin: prints a new token for scripts once; token remove NAME, token list\n"
           "  accounts live in $XDG_CONFIG_HOME/Veltrona/rk40-collector.users (mode 0600)\n"
           "query: prints stored events, oldest first.\n"
           "  --since WHEN, --until WHEN   YYYY-MM-DD or YYYY-MM-DD HH:MM (event date and time; inclusive)\n"
           "  --card CARD, --terminal N, --source T1..E4\n"
           "  --format table|csv|json      csv: RFC 4180 with a header; json: one object a line\n"
           "Exit status: 0 done (run: ended by SIGTERM or SIGINT), 1 failure, 2 bad usage.\n";
}

int usage(const QString& why)
{
    QTextStream(stderr) << "rk40-collector: " << why << "\n(rk40-collector --help lists the options)\n";
    return kExitUsage;
}

// "--name value" pairs after the command. Repeatable options collect all values.
struct Args {
    QMultiMap<QString, QString> values;
    QString error;
    QString value(const QString& name, const QString& fallback = {}) const { return values.value(name, fallback); }
    bool has(const QString& name) const { return values.contains(name); }
};

Args parseArgs(const QStringList& args, const QStringList& known)
{
    Args a;
    for (qsizetype i = 0; i < args.size(); ++i) {
        QString name = args[i], value;
        if (const qsizetype eq = name.indexOf('='); name.startsWith("--") && eq > 0) {
            value = name.mid(eq + 1);
            name = name.left(eq);
        } else if (name.startsWith("--") && i + 1 < args.size()) {
            value = args[++i];
        } else {
            a.error = name.startsWith("--") ? QString("%1 needs a value").arg(name) : QString("unexpected argument %1").arg(name);
            return a;
        }
        if (!known.contains(name)) {
            a.error = QString("unknown option %1").arg(name);
            return a;
        }
        a.values.insert(name, value);
    }
    return a;
}

bool parseHostPort(const QString& text, QString* host, int* port)
{
    const qsizetype colon = text.lastIndexOf(':');
    if (colon < 0) {
        *host = text;
        return !text.isEmpty();
    }
    bool ok = false;
    *port = text.mid(colon + 1).toInt(&ok);
    *host = text.left(colon);
    return ok && *port > 0 && *port < 65536 && !host->isEmpty();
}

// A file holding a secret (or a configuration holding one) that users other
// than its owner may read is refused: the secret would be theirs too.
bool othersMayRead(const QString& path)
{
    struct stat st {};
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 && (st.st_mode & (S_IRGRP | S_IROTH)) != 0;
}

// The first line of a password file, without its line end.
bool readPasswordFile(const QString& path, QString* password, QString* error)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) {
        *error = QString("cannot read the password file %1: %2").arg(path, f.errorString());
        return false;
    }
    if (othersMayRead(path)) {
        *error = QString("the password file %1 can be read by other users; make it readable by its owner alone "
                         "(chmod 600 %1)").arg(path);
        return false;
    }
    QByteArray line = f.readLine(4096);
    while (line.endsWith('\n') || line.endsWith('\r'))
        line.chop(1);
    *password = QString::fromUtf8(line);
    return true;
}

struct Settings {
    QStringList ports;
    QString registerFile, db, mqtt, syncClock, minFree, passwordFile;
    QString http, httpCert, httpKey, transferLog, names;
    collector::MqttOptions mqttOptions;
};

const QStringList kRunOptions = {"--port", "--config", "--register-file", "--db", "--mqtt", "--mqtt-topic",
                                 "--mqtt-user", "--mqtt-password", "--mqtt-password-file", "--mqtt-cafile",
                                 "--sync-clock", "--min-free-kib", "--progid", "--http", "--http-cert",
                                 "--http-key", "--transfer-log", "--names"};

// Settings from the configuration file first; the command line overrides.
// 0, or the exit status of a refusal (already told).
int readSettings(const Args& args, Settings* s)
{
    if (args.has("--config")) {
        const QString path = args.value("--config");
        if (!QFileInfo(path).isReadable())
            return usage(QString("cannot read the configuration file %1").arg(path));
        QSettings ini(path, QSettings::IniFormat);
        if (ini.status() != QSettings::NoError)
            return usage(QString("%1 is not a valid INI file").arg(path));
        if (!ini.value("mqtt/password").toString().isEmpty() && othersMayRead(path)) {
            qCritical("the configuration file %s holds a password and can be read by other users; make it "
                      "readable by its owner alone (chmod 600 %s)", qPrintable(path), qPrintable(path));
            return kExitFailure;
        }
        for (const QString& p : ini.value("collector/ports").toStringList())
            if (!p.trimmed().isEmpty()) s->ports << p.trimmed();
        s->registerFile = ini.value("collector/register-file").toString();
        s->db = ini.value("collector/db").toString();
        s->syncClock = ini.value("collector/sync-clock").toString();
        s->minFree = ini.value("collector/min-free-kib").toString();
        s->http = ini.value("collector/http").toString();
        s->httpCert = ini.value("collector/http-cert").toString();
        s->httpKey = ini.value("collector/http-key").toString();
        s->transferLog = ini.value("collector/transfer-log").toString();
        s->names = ini.value("collector/names").toString();
        s->mqtt = ini.value("mqtt/host").toString();
        s->mqttOptions.topicPrefix = ini.value("mqtt/topic", s->mqttOptions.topicPrefix).toString();
        s->mqttOptions.user = ini.value("mqtt/user").toString();
        s->mqttOptions.password = ini.value("mqtt/password").toString();
        s->passwordFile = ini.value("mqtt/password-file").toString();
        s->mqttOptions.caFile = ini.value("mqtt/ca-file").toString();
    }
    if (args.has("--port")) {
        s->ports = args.values.values("--port");
        std::reverse(s->ports.begin(), s->ports.end());  // QMultiMap keeps the last first
    }
    s->registerFile = args.value("--register-file", s->registerFile);
    s->db = args.value("--db", s->db);
    s->mqtt = args.value("--mqtt", s->mqtt);
    s->syncClock = args.value("--sync-clock", s->syncClock);
    s->minFree = args.value("--min-free-kib", s->minFree);
    s->http = args.value("--http", s->http);
    s->httpCert = args.value("--http-cert", s->httpCert);
    s->httpKey = args.value("--http-key", s->httpKey);
    s->transferLog = args.value("--transfer-log", s->transferLog);
    s->names = args.value("--names", s->names);
    s->mqttOptions.topicPrefix = args.value("--mqtt-topic", s->mqttOptions.topicPrefix);
    s->mqttOptions.user = args.value("--mqtt-user", s->mqttOptions.user);
    s->mqttOptions.password = args.value("--mqtt-password", s->mqttOptions.password);
    s->passwordFile = args.value("--mqtt-password-file", s->passwordFile);
    s->mqttOptions.caFile = args.value("--mqtt-cafile", s->mqttOptions.caFile);
    if (s->registerFile.isEmpty())
        s->registerFile = dataFolder() + "/reg.txt";
    if (s->db.isEmpty())
        s->db = dataFolder() + "/events.sqlite";
    s->registerFile = QFileInfo(s->registerFile).absoluteFilePath();
    return 0;
}

int runCollector(const QStringList& argList)
{
    const Args args = parseArgs(argList, kRunOptions);
    if (!args.error.isEmpty())
        return usage(args.error);
    Settings settings;
    if (const int refused = readSettings(args, &settings))
        return refused;
    collector::MqttOptions& mqttOptions = settings.mqttOptions;

    collector::CollectorOptions options;
    options.progId = args.value("--progid", options.progId);
    if (settings.ports.isEmpty())
        return usage("no port to collect from: give --port or ports= in the configuration file");
    for (const QString& p : settings.ports) {
        collector::PortSpec spec;
        QString error;
        if (!collector::parsePortSpec(p, &spec, &error))
            return usage(error);
        options.ports.push_back(spec);
    }
    if (!settings.syncClock.isEmpty()) {
        const QTime t = QTime::fromString(settings.syncClock, "HH:mm");
        if (!t.isValid())
            return usage(QString("--sync-clock wants HH:MM, not %1").arg(settings.syncClock));
        options.syncClock = t;
    }
    if (!settings.minFree.isEmpty()) {
        bool ok = false;
        const qint64 kib = settings.minFree.toLongLong(&ok);
        if (!ok || kib < 0)
            return usage(QString("--min-free-kib wants a number of KiB, not %1").arg(settings.minFree));
        options.minFreeBytes = kib * 1024;
    }
    if (!settings.mqtt.isEmpty() && !parseHostPort(settings.mqtt, &mqttOptions.host, &mqttOptions.port))
        return usage(QString("--mqtt wants HOST[:PORT], not %1").arg(settings.mqtt));
    if (mqttOptions.topicPrefix.isEmpty() || mqttOptions.topicPrefix.contains('+') || mqttOptions.topicPrefix.contains('#'))
        return usage("the MQTT topic prefix must be a plain topic (no + or #)");
    if (!settings.passwordFile.isEmpty()) {
        QString error;
        if (!readPasswordFile(settings.passwordFile, &mqttOptions.password, &error)) {
            qCritical("%s", qPrintable(error));
            return kExitFailure;
        }
    } else if (args.has("--mqtt-password")) {
        qWarning("--mqtt-password is shown by ps to every user of this machine; --mqtt-password-file keeps it private");
    }

    collector::HttpListen listen;
    if (!settings.http.isEmpty()) {
        QString why;
        if (!collector::parseHttpListen(settings.http, &listen, &why))
            return usage(why);
        if (!listen.address.isLoopback() && settings.httpCert.isEmpty())
            return usage(QString("refusing to serve the HTTP API on %1, which is not a loopback address, without "
                                 "TLS; give --http-cert and --http-key").arg(listen.address.toString()));
    }

    options.registerFile = settings.registerFile;
    options.storeFile = QFileInfo(settings.db).absoluteFilePath();
    const QString& db = settings.db;
    // Who opened which door when is personal data: whatever the service
    // creates is its user's alone, whatever umask it was started with.
    ::umask(077);
    for (const QString& file : {options.registerFile, db}) {
        QString why;
        if (!collector::makePrivateFolder(QFileInfo(file).absolutePath(), &why)
            || !collector::touchPrivateFile(file, &why)) {
            qCritical("%s", qPrintable(why));
            return kExitFailure;
        }
    }

    QString error;
    collector::InstanceLock instance;
    if (!instance.acquire(options.storeFile, &error)) {
        qCritical("%s", qPrintable(error));
        return kExitFailure;
    }
    collector::Store store;
    if (!store.open(db, &error)) {
        qCritical("%s", qPrintable(error));
        return kExitFailure;
    }

    std::unique_ptr<collector::MqttPublisher> publisher;
    if (!mqttOptions.host.isEmpty()) {
        publisher = std::make_unique<collector::MqttPublisher>(store, mqttOptions);
        if (!publisher->start(&error)) {
            qCritical("%s", qPrintable(error));
            return kExitFailure;
        }
    }

    if (::pipe2(g_signalPipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        qCritical("cannot set up signal handling");
        return kExitFailure;
    }
    collector::Collector coll(store, publisher.get(), options);
    QSocketNotifier signalNotifier(g_signalPipe[0], QSocketNotifier::Read);
    QObject::connect(&signalNotifier, &QSocketNotifier::activated, [&coll] {
        char buf[16];
        ssize_t n;
        while ((n = ::read(g_signalPipe[0], buf, sizeof buf)) > 0) {
            for (ssize_t i = 0; i < n; ++i) {
                if (buf[i] == SIGHUP) {
                    qInfo("SIGHUP: looking at the register file");
                    coll.checkRegisterFile();
                } else {
                    QCoreApplication::exit(0);
                }
            }
        }
    });
    struct sigaction sa {};
    sa.sa_handler = onSignal;
    sigemptyset(&sa.sa_mask);
    for (int s : {SIGTERM, SIGINT, SIGHUP})
        sigaction(s, &sa, nullptr);

    if (!coll.start(&error)) {
        qCritical("%s", qPrintable(error));
        return kExitFailure;
    }
    qInfo("collecting %lld port(s) into %s and %s%s", static_cast<long long>(options.ports.size()),
          qPrintable(options.registerFile), qPrintable(db),
          publisher ? qPrintable(QString(", publishing to %1:%2").arg(mqttOptions.host).arg(mqttOptions.port)) : "");
    if (publisher)
        QMetaObject::invokeMethod(publisher.get(), &collector::MqttPublisher::pump);

    // The HTTP API, on this thread; it reads the store through a connection
    // of its own and reaches the terminals through their ports' threads.
    collector::Store readStore;
    collector::AccountFile accounts(collector::defaultAccountsPath());
    std::unique_ptr<collector::TerminalService> terminals;
    std::unique_ptr<collector::ConfigurationService> configurations;
    collector::NameBook names(settings.names);
    std::unique_ptr<collector::ApiService> api;
    std::unique_ptr<collector::HttpTransport> http;
    if (!settings.http.isEmpty()) {
        if (!accounts.load(&error) || !readStore.openReadOnly(db, &error)) {
            qCritical("%s", qPrintable(error));
            coll.stop();
            return kExitFailure;
        }
        if (accounts.accounts().empty())
            qWarning("no accounts in %s yet: the API lets nobody in until one is added (rk40-collector user add)",
                     qPrintable(accounts.path()));
        const QString transferLog = settings.transferLog.isEmpty() ? collector::ConfigurationService::defaultTransferLog()
                                                                   : QFileInfo(settings.transferLog).absoluteFilePath();
        terminals = std::make_unique<collector::TerminalService>(coll.portWorkers(), readStore,
                                                                 collector::ConfigurationService::keysLogBeside(transferLog));
        configurations = std::make_unique<collector::ConfigurationService>(*terminals, transferLog);
        api = std::make_unique<collector::ApiService>(accounts, readStore, *terminals, configurations.get());
        http = std::make_unique<collector::HttpTransport>(
            [a = api.get()](const collector::ApiRequest& r, const collector::Responder& responder) {
                if (!collector::WebPage::serve(r, responder))
                    a->handle(r, responder);
            });
        api->setTransport(http.get());
        if (!names.load(&error))
            qWarning("%s; cards are shown without names", qPrintable(error));
        api->setNames(&names);
        QObject::connect(coll.storeWorker(), &collector::StoreWorker::stored, &api->stream(),
                         &collector::EventStream::deliver, Qt::QueuedConnection);
        if (!http->start(listen.address, listen.port, settings.httpCert, settings.httpKey, &error)) {
            qCritical("%s", qPrintable(error));
            coll.stop();
            return kExitFailure;
        }
        qInfo("HTTP API on %s://%s:%d/api/v1/", http->secure() ? "https" : "http",
              qPrintable(listen.address.toString()), int(http->port()));
    }
    const int rc = QCoreApplication::exec();
    http.reset();
    coll.stop();
    qInfo("stopped");
    return rc;
}

// Renames the register file; a running collector finishes it and switches
// to a new one before this returns.
int runRotate(const QStringList& argList)
{
    const Args args = parseArgs(argList, {"--config", "--register-file", "--db"});
    if (!args.error.isEmpty())
        return usage(args.error);
    Settings settings;
    if (const int refused = readSettings(args, &settings))
        return refused;
    const QString& reg = settings.registerFile;
    if (!QFileInfo::exists(reg)) {
        QTextStream(stderr) << "rk40-collector: " << reg << " does not exist: nothing to rotate\n";
        return kExitFailure;
    }
    const QString rotated = reg + QDateTime::currentDateTime().toString(".yyyyMMdd-HHmmss");
    struct stat before {};
    ::stat(QFile::encodeName(reg).constData(), &before);
    if (QFileInfo::exists(rotated) || ::rename(QFile::encodeName(reg).constData(), QFile::encodeName(rotated).constData()) != 0) {
        QTextStream(stderr) << "rk40-collector: cannot rename " << reg << " to " << rotated << ": "
                            << (QFileInfo::exists(rotated) ? QString("it exists") : QString::fromLocal8Bit(std::strerror(errno))) << "\n";
        return kExitFailure;
    }
    QTextStream out(stdout);
    const QString db = QFileInfo(settings.db).absoluteFilePath();
    const auto pid = collector::InstanceLock::holder(db);
    if (!pid) {
        out << "renamed " << reg << " to " << rotated
            << "; no collector runs on " << db << ": its next start stores the rest of " << rotated << " first\n";
        return 0;
    }
    ::kill(pid_t(*pid), SIGHUP);
    // Done when the store has moved on from the renamed file.
    QElapsedTimer waited;
    waited.start();
    while (waited.elapsed() < 60000) {
        collector::Store store;
        QString error;
        if (store.openReadOnly(db, &error)) {
            const auto position = store.registerPosition(reg);
            if (position && position->file.inode != std::int64_t(before.st_ino)) {
                out << "renamed " << reg << " to " << rotated << "; the collector (process " << *pid
                    << ") has stored all of it and writes to a new " << reg << "\n";
                return 0;
            }
        }
        QThread::msleep(200);
    }
    QTextStream(stderr) << "rk40-collector: renamed " << reg << " to " << rotated << ", but the collector (process "
                        << *pid << ") has not switched to a new file within 60 s; see its log\n";
    return kExitFailure;
}

int runQuery(const QStringList& argList)
{
    const Args args = parseArgs(argList, {"--db", "--since", "--until", "--card", "--terminal", "--source", "--format"});
    if (!args.error.isEmpty())
        return usage(args.error);
    collector::QueryFilter f;
    f.since = args.value("--since");
    f.until = args.value("--until");
    if (args.has("--since") && !collector::normaliseWhen(&f.since))
        return usage(QString("--since wants YYYY-MM-DD or YYYY-MM-DD HH:MM, not %1").arg(args.value("--since")));
    if (args.has("--until") && !collector::normaliseWhen(&f.until))
        return usage(QString("--until wants YYYY-MM-DD or YYYY-MM-DD HH:MM, not %1").arg(args.value("--until")));
    f.card = args.value("--card");
    if (args.has("--terminal")) {
        bool ok = false;
        f.terminal = args.value("--terminal").toInt(&ok);
        if (!ok)
            return usage(QString("--terminal wants a number, not %1").arg(args.value("--terminal")));
    }
    f.source = args.value("--source").toUpper();
    static const QStringList sources = {"T1", "T2", "T3", "T4", "S1O", "S1Z", "S2O", "S2Z",
                                        "S3O", "S3Z", "S4O", "S4Z", "E1", "E2", "E3", "E4"};
    if (args.has("--source") && !sources.contains(f.source))
        return usage(QString("--source wants one of %1").arg(sources.join(' ')));
    const QString format = args.value("--format", "table");
    if (format != "table" && format != "csv" && format != "json")
        return usage(QString("--format wants table, csv or json, not %1").arg(format));

    collector::Store store;
    QString error;
    if (!store.openReadOnly(args.value("--db", dataFolder() + "/events.sqlite"), &error)) {
        QTextStream(stderr) << "rk40-collector: " << error << "\n";
        return kExitFailure;
    }
    QTextStream out(stdout);
    const QStringList& header = collector::eventColumns();
    // Records come from the line: their control characters are shown as
    // escapes, not sent to the terminal (JSON escapes them itself).
    auto fields = [](const collector::EventRow& r) { return collector::eventCells(r); };
    if (format == "csv")
        out << header.join(',') << "\r\n";
    // Page by page: a store of any size is printed in little memory. A
    // table is aligned page by page.
    collector::Page page;
    for (bool first = true;; first = false) {
        const auto rows = store.query(f, &error, page);
        if (!error.isEmpty()) {
            out.flush();
            QTextStream(stderr) << "rk40-collector: " << error << "\n";
            return kExitFailure;
        }
        if (rows.empty() && !first)
            break;
        if (format == "csv") {
            for (const auto& r : rows)
                out << collector::eventCsvLine(fields(r));
        } else if (format == "json") {
            for (const auto& r : rows)
                out << eventJson(r) << "\n";
        } else {
            std::vector<QStringList> table;
            if (first)
                table.push_back(header);
            for (const auto& r : rows)
                table.push_back(fields(r));
            QList<qsizetype> width(header.size(), 0);
            for (qsizetype i = 0; i < header.size(); ++i)
                width[i] = header[i].size();
            for (const auto& line : table)
                for (qsizetype i = 0; i < line.size(); ++i)
                    width[i] = std::max(width[i], line[i].size());
            for (const auto& line : table) {
                QString text;
                for (qsizetype i = 0; i < line.size(); ++i)
                    text += (i ? "  " : "") + line[i].leftJustified(i + 1 < line.size() ? width[i] : 0);
                out << text << "\n";
            }
        }
        if (rows.size() < std::size_t(page.limit))
            break;
        page.afterId = rows.back().id;
    }
    return 0;
}

bool askNewPassword(QString* password)
{
    termsetcli::SecretBytes first, second;
    if (!termsetcli::readHiddenLine("Password: ", first) || !termsetcli::readHiddenLine("Password again: ", second))
        return false;
    if (first.bytes() != second.bytes()) {
        QTextStream(stderr) << "rk40-collector: the passwords differ; nothing changed\n";
        return false;
    }
    *password = QString::fromLocal8Bit(first.bytes());
    return true;
}

// user add|remove|list and token add|remove|list.
int runAccounts(bool tokens, const QStringList& argList)
{
    ::umask(077);
    QTextStream out(stdout), err(stderr);
    const QString verb = argList.value(0);
    const bool named = verb == "add" || verb == "remove";
    const QString name = named ? argList.value(1) : QString();
    const Args args = parseArgs(argList.mid(named ? 2 : 1), verb == "add" ? QStringList{"--role", "--password-file"}
                                                                          : QStringList{});
    if (!args.error.isEmpty())
        return usage(args.error);
    if (verb != "add" && verb != "remove" && verb != "list")
        return usage(QString("%1 wants add, remove or list").arg(tokens ? "token" : "user"));
    if (named && !collector::validAccountName(name))
        return usage("a name is 1 to 64 letters, digits, '.', '_', '-' or '@'");
    collector::AccountFile file(collector::defaultAccountsPath());
    QString error;
    if (!file.load(&error)) {
        err << "rk40-collector: " << error << "\n";
        return kExitFailure;
    }
    const auto kind = tokens ? collector::Account::Token : collector::Account::User;
    if (verb == "list") {
        for (const auto& a : file.accounts())
            if (a.kind == kind)
                out << a.name << " " << collector::roleText(a.role) << "\n";
        return 0;
    }
    if (verb == "remove") {
        if (!file.remove(kind, name)) {
            err << "rk40-collector: there is no " << (tokens ? "token " : "user ") << name << "\n";
            return kExitFailure;
        }
    } else {
        if (args.has("--password-file") && tokens)
            return usage("a token needs no password");
        const auto role = collector::roleFromText(args.value("--role"));
        if (!role)
            return usage("--role wants viewer or admin");
        collector::Account account{kind, name, *role, {}};
        QString secret;
        if (tokens) {
            secret = collector::newSecret();
            account.hash = collector::tokenHash(secret);
        } else if (args.has("--password-file")) {
            if (!readPasswordFile(args.value("--password-file"), &secret, &error)) {
                err << "rk40-collector: " << error << "\n";
                return kExitFailure;
            }
        } else if (!askNewPassword(&secret)) {
            return kExitFailure;
        }
        if (!tokens && secret.size() < 8) {
            err << "rk40-collector: a password needs at least 8 characters\n";
            return kExitFailure;
        }
        if (!tokens) {
            account.hash = collector::hashPassword(secret);
            if (account.hash.isEmpty()) {
                err << "rk40-collector: the password could not be hashed\n";
                return kExitFailure;
            }
        }
        file.put(account);
        if (tokens)
            out << secret << "\n";
        termsetcli::wipe(secret);
    }
    if (!file.save(&error)) {
        err << "rk40-collector: " << error << "\n";
        return kExitFailure;
    }
    if (tokens && verb == "add")
        err << "rk40-collector: the token above is shown this once; only its hash is kept in " << file.path() << "\n";
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    qInstallMessageHandler(logHandler);
    QCoreApplication app(argc, argv);
    app.setApplicationName("rk40-collector");
    QStringList args = app.arguments().mid(1);
    if (args.isEmpty())
        return usage("give a command: run, query or rotate");
    const QString command = args.takeFirst();
    if (command == "-h" || command == "--help" || command == "help") {
        QTextStream out(stdout);
        printHelp(out);
        return 0;
    }
    if (command == "run")
        return runCollector(args);
    if (command == "query")
        return runQuery(args);
    if (command == "rotate")
        return runRotate(args);
    if (command == "user" || command == "token")
        return runAccounts(command == "token", args);
    return usage(QString("unknown command %1").arg(command));
}

#include "platform/resources/Resources.h"

#include <QDir>
#include <QFile>
#include <QStringList>
#include <QTextStream>

#include <mutex>

namespace resources {

namespace {
std::mutex g_mutex;
std::shared_ptr<const ILanguageProvider> g_provider;

QString unescape(const QString& s)
{
    QString out;
    out.reserve(s.size());
    for (qsizetype i = 0; i < s.size(); ++i) {
        if (s[i] == '\\' && i + 1 < s.size()) {
            const QChar n = s[++i];
            if (n == 'n') out += '\n';
            else if (n == 't') out += '\t';
            else out += n;
        } else {
            out += s[i];
        }
    }
    return out;
}
} // namespace

void setLanguageProvider(std::shared_ptr<const ILanguageProvider> provider)
{
    std::lock_guard lock(g_mutex);
    g_provider = std::move(provider);
}

std::shared_ptr<const ILanguageProvider> languageProvider()
{
    std::lock_guard lock(g_mutex);
    return g_provider;
}

bool parseTable(const QString& source, Table& into, QString* error)
{
    int lineNo = 0;
    for (const QString& raw : source.split('\n')) {
        ++lineNo;
        QString line = raw;
        if (line.endsWith('\r'))
            line.chop(1);
        if (line.trimmed().isEmpty() || line.startsWith('#'))
            continue;
        const QStringList f = line.split('\t');
        auto bad = [&](const QString& why) {
            if (error)
                *error = QString("line %1: %2").arg(lineNo).arg(why);
            return false;
        };
        Key key;
        bool okId = false, okSub = true;
        QString value;
        if (f[0] == "string" && f.size() == 3) {
            key.kind = Kind::String;
            key.id = f[1].toInt(&okId);
            value = f[2];
        } else if ((f[0] == "dialog" || f[0] == "menu") && f.size() == 4) {
            key.kind = f[0] == "dialog" ? Kind::Dialog : Kind::Menu;
            key.id = f[1].toInt(&okId);
            key.sub = f[2].toInt(&okSub);
            value = f[3];
        } else {
            return bad("expected string/dialog/menu with tab-separated fields");
        }
        if (!okId || !okSub)
            return bad("identifier is not a number");
        into[key] = unescape(value);
    }
    return true;
}

const Table& englishTable()
{
    static const Table table = [] {
        Table t;
        const QDir dir(":/english");
        for (const QString& name : dir.entryList({"*.tsv"}, QDir::Files, QDir::Name)) {
            QFile f(dir.filePath(name));
            if (!f.open(QIODevice::ReadOnly))
                continue;
            QString error;
            if (!parseTable(QString::fromUtf8(f.readAll()), t, &error))
                qWarning("built-in table %s: %s", qPrintable(name), qPrintable(error));
        }
        return t;
    }();
    return table;
}

QString text(const Key& key)
{
    if (const auto provider = languageProvider()) {
        const QString s = provider->lookup(key);
        if (!s.isNull())
            return s;
    }
    const Table& english = englishTable();
    const auto it = english.find(key);
    return it == english.end() ? QString("") : it->second;
}

QString loadString(int id) { return text({Kind::String, id, 0}); }
QString dialogText(int dialogId, int controlId) { return text({Kind::Dialog, dialogId, controlId}); }
QString menuText(int menuId, int commandId) { return text({Kind::Menu, menuId, commandId}); }

} // namespace resources

#include "Profile.h"

#include <QSettings>

namespace {
QString g_overrideFile;  // UI thread only

constexpr const char* kParam1 = "Settings/Param1";
constexpr const char* kLanguage = "Settings/Language";
constexpr const char* kIpPort = "Settings/IPPort";
} // namespace

Profile::Profile()
    : m_settings(g_overrideFile.isEmpty()
                     ? std::make_unique<QSettings>(QStringLiteral("Veltrona"), QStringLiteral("Termset"))
                     : std::make_unique<QSettings>(g_overrideFile, QSettings::IniFormat))
{
}

Profile::~Profile() = default;

void Profile::useFile(const QString& path) { g_overrideFile = path; }
QString Profile::overrideFile() { return g_overrideFile; }

int Profile::param1(int defaultValue) const
{
    bool ok = false;
    const int v = m_settings->value(kParam1, defaultValue).toInt(&ok);
    return ok ? v : defaultValue;
}

void Profile::setParam1(int checksum)
{
    m_settings->setValue(kParam1, checksum);
    m_settings->sync();
}

QString Profile::language() const { return m_settings->value(kLanguage, QStringLiteral("English")).toString(); }

void Profile::setLanguage(const QString& name)
{
    m_settings->setValue(kLanguage, name);
    m_settings->sync();
}

int Profile::ipPort() const
{
    bool ok = false;
    const int v = m_settings->value(kIpPort, kDefaultIpPort).toInt(&ok);
    return ok ? v : kDefaultIpPort;
}

int Profile::seconds(const char* key, int defaultValue) const
{
    bool ok = false;
    const int v = m_settings->value(QLatin1String(key), defaultValue).toInt(&ok);
    return ok && v >= 0 ? v : defaultValue;
}

int Profile::connectTimeout() const { return seconds("Settings/ConnectTimeout", kDefaultConnectTimeout); }
int Profile::sendTimeout() const { return seconds("Settings/SendTimeout", kDefaultSendTimeout); }
int Profile::replyTimeout() const { return seconds("Settings/ReplyTimeout", kDefaultReplyTimeout); }

void Profile::setIpPort(int port)
{
    m_settings->setValue(kIpPort, port);
    m_settings->sync();
}

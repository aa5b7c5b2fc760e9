#include "core/Profile.h"

#include "platform/folders/UserFolders.h"

#include "platform/resources/Resources.h"
#include "platform/resources/TextFill.h"

#include <QDir>
#include <QLoggingCategory>
#include <QSettings>

Q_LOGGING_CATEGORY(lcProfile, "termset.profile")

namespace {
// "The setting could not be saved in "%s":\n%s", and the two reasons.
constexpr int kWriteFailed = 61731;
constexpr int kAccessReason = 61732;
constexpr int kFormatReason = 61733;

QString g_overrideFile;  // UI thread only

constexpr const char* kParam1 = "Settings/Param1";
constexpr const char* kLanguage = "Settings/Language";
constexpr const char* kIpPort = "Settings/IPPort";
} // namespace

Profile::Profile()
    : m_settings(std::make_unique<QSettings>(
          g_overrideFile.isEmpty() ? userfolders::path(userfolders::Kind::Config, QStringLiteral("Termset.conf"))
                                   : g_overrideFile,
          QSettings::IniFormat))
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

bool Profile::setParam1(int checksum) { return store(kParam1, checksum); }

QString Profile::language() const { return m_settings->value(kLanguage, QStringLiteral("English")).toString(); }

bool Profile::setLanguage(const QString& name) { return store(kLanguage, name); }

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

remote::Limits Profile::remoteLimits() const
{
    return remote::limitsInSeconds(connectTimeout(), sendTimeout(), replyTimeout());
}

bool Profile::setIpPort(int port) { return store(kIpPort, port); }

bool Profile::store(const char* key, const QVariant& value)
{
    m_settings->setValue(QLatin1String(key), value);
    m_settings->sync();
    const QSettings::Status status = m_settings->status();
    if (status == QSettings::NoError) {
        m_failure.clear();
        return true;
    }
    const int reason = status == QSettings::FormatError ? kFormatReason : kAccessReason;
    m_failure = resources::formatString(kWriteFailed, {QDir::toNativeSeparators(m_settings->fileName()), resources::loadString(reason)});
    qCWarning(lcProfile).noquote() << "profile" << m_settings->fileName() << "not written:" << key;
    return false;
}

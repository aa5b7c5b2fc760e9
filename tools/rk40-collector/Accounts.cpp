#include "Accounts.h"

#include "PrivateFiles.h"

#include "platform/folders/UserFolders.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QRegularExpression>

#include <argon2.h>

#include <sys/stat.h>

namespace collector {

namespace {

// RFC 9106's second recommendation, lighter on memory: 64 MiB, 3 passes.
constexpr uint32_t kTimeCost = 3;
constexpr uint32_t kMemoryKiB = 64 * 1024;
constexpr uint32_t kLanes = 1;
constexpr std::size_t kSaltBytes = 16;
constexpr std::size_t kHashBytes = 32;
constexpr qint64 kMaxFileBytes = 1024 * 1024;

QByteArray randomBytes(std::size_t n)
{
    QByteArray b(qsizetype(n), '\0');
    QRandomGenerator::system()->generate(reinterpret_cast<quint32*>(b.data()),
                                         reinterpret_cast<quint32*>(b.data() + b.size()));
    return b;
}

} // namespace

std::optional<Role> roleFromText(const QString& text)
{
    if (text == QLatin1String("viewer")) return Role::Viewer;
    if (text == QLatin1String("admin")) return Role::Admin;
    return std::nullopt;
}

QString roleText(Role role) { return role == Role::Admin ? QStringLiteral("admin") : QStringLiteral("viewer"); }

QString defaultAccountsPath()
{
    return userfolders::path(userfolders::Kind::Config, QStringLiteral("rk40-collector.users"));
}

QString hashPassword(const QString& password)
{
    const QByteArray pwd = password.toUtf8();
    const QByteArray salt = randomBytes(kSaltBytes);
    const std::size_t length = argon2_encodedlen(kTimeCost, kMemoryKiB, kLanes, kSaltBytes, kHashBytes, Argon2_id);
    QByteArray encoded(qsizetype(length), '\0');
    const int rc = argon2id_hash_encoded(kTimeCost, kMemoryKiB, kLanes, pwd.constData(), std::size_t(pwd.size()),
                                         salt.constData(), kSaltBytes, kHashBytes, encoded.data(), length);
    if (rc != ARGON2_OK)
        return {};
    return QString::fromLatin1(encoded.constData());
}

bool verifyPassword(const QString& encoded, const QString& password)
{
    if (!encoded.startsWith(QLatin1String("$argon2id$")))
        return false;
    const QByteArray e = encoded.toLatin1();
    const QByteArray pwd = password.toUtf8();
    return argon2id_verify(e.constData(), pwd.constData(), std::size_t(pwd.size())) == ARGON2_OK;
}

QString newSecret()
{
    return QString::fromLatin1(randomBytes(32).toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals));
}

QString tokenHash(const QString& token)
{
    return QString::fromLatin1(QCryptographicHash::hash(token.toUtf8(), QCryptographicHash::Sha256).toHex());
}

bool validAccountName(const QString& name)
{
    static const QRegularExpression re(QStringLiteral("^[A-Za-z0-9._@-]{1,64}$"));
    return re.match(name).hasMatch();
}

bool AccountFile::load(QString* error)
{
    m_accounts.clear();
    const QFileInfo info(m_path);
    m_loadedMtime = info.lastModified();
    m_loadedSize = info.exists() ? info.size() : -1;
    if (!info.exists())
        return true;
    struct stat st {};
    if (::stat(QFile::encodeName(m_path).constData(), &st) == 0 && (st.st_mode & (S_IRWXG | S_IRWXO)) != 0) {
        *error = QString("the accounts file %1 can be read or written by other users; make it its owner's alone "
                         "(chmod 600 %1)").arg(m_path);
        return false;
    }
    QFile f(m_path);
    if (!f.open(QIODevice::ReadOnly) || f.size() > kMaxFileBytes) {
        *error = QString("cannot read the accounts file %1: %2").arg(m_path, f.size() > kMaxFileBytes ? "too large" : f.errorString());
        return false;
    }
    int lineNo = 0;
    while (!f.atEnd()) {
        ++lineNo;
        const QString line = QString::fromUtf8(f.readLine()).trimmed();
        if (line.isEmpty() || line.startsWith('#'))
            continue;
        const QStringList parts = line.split(' ', Qt::SkipEmptyParts);
        const auto role = parts.size() == 4 ? roleFromText(parts[2]) : std::nullopt;
        const bool user = parts.value(0) == QLatin1String("user"), token = parts.value(0) == QLatin1String("token");
        if (!role || (!user && !token) || !validAccountName(parts[1])) {
            *error = QString("the accounts file %1 is malformed at line %2").arg(m_path).arg(lineNo);
            m_accounts.clear();
            return false;
        }
        m_accounts.push_back({user ? Account::User : Account::Token, parts[1], *role, parts[3]});
    }
    return true;
}

bool AccountFile::save(QString* error) const
{
    QByteArray text = "# rk40-collector accounts: kind name role hash (rk40-collector user/token add)\n";
    for (const Account& a : m_accounts)
        text += QString("%1 %2 %3 %4\n")
                    .arg(a.kind == Account::User ? "user" : "token", a.name, roleText(a.role), a.hash)
                    .toUtf8();
    if (!makePrivateFolder(QFileInfo(m_path).absolutePath(), error))
        return false;
    return writePrivateFile(m_path, text, error);
}

bool AccountFile::reloadIfChanged(QString* error)
{
    const QFileInfo info(m_path);
    const qint64 size = info.exists() ? info.size() : -1;
    if (size == m_loadedSize && info.lastModified() == m_loadedMtime)
        return true;
    const std::vector<Account> old = m_accounts;
    if (load(error))
        return true;
    m_accounts = old;
    return false;
}

const Account* AccountFile::find(Account::Kind kind, const QString& name) const
{
    for (const Account& a : m_accounts)
        if (a.kind == kind && a.name == name)
            return &a;
    return nullptr;
}

const Account* AccountFile::findToken(const QString& token) const
{
    const QString h = tokenHash(token);
    for (const Account& a : m_accounts)
        if (a.kind == Account::Token && a.hash == h)
            return &a;
    return nullptr;
}

void AccountFile::put(Account account)
{
    for (Account& a : m_accounts)
        if (a.kind == account.kind && a.name == account.name) {
            a = std::move(account);
            return;
        }
    m_accounts.push_back(std::move(account));
}

bool AccountFile::remove(Account::Kind kind, const QString& name)
{
    const auto n = std::erase_if(m_accounts, [&](const Account& a) { return a.kind == kind && a.name == name; });
    return n > 0;
}

} // namespace collector

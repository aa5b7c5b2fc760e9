#pragma once

// The accounts of the HTTP API: people (name, role, Argon2id hash of the
// password) and tokens for scripts (name, role, SHA-256 of the token: a
// token is 32 random bytes, so a fast hash is as good as a slow one). One
// file, readable and writable by its owner alone; a file others may read
// or write is refused whole.

#include <QDateTime>
#include <QString>

#include <optional>
#include <vector>

namespace collector {

enum class Role { Viewer, Admin };

std::optional<Role> roleFromText(const QString& text);
QString roleText(Role role);

struct Account {
    enum Kind { User, Token } kind = User;
    QString name;
    Role role = Role::Viewer;
    QString hash;   // User: "$argon2id$..."; Token: hexadecimal SHA-256
};

// $XDG_CONFIG_HOME/Veltrona/rk40-collector.users (~/.config when unset).
QString defaultAccountsPath();

// An encoded Argon2id hash of the password with a fresh salt; empty on failure.
QString hashPassword(const QString& password);
bool verifyPassword(const QString& encoded, const QString& password);

// 32 random bytes, base64url without padding.
QString newSecret();
QString tokenHash(const QString& token);

class AccountFile {
public:
    explicit AccountFile(QString path) : m_path(std::move(path)) {}
    const QString& path() const { return m_path; }

    // Reads the file; a missing file is an empty one. False with `error` set
    // when it cannot be read, is malformed, or others may read or write it.
    bool load(QString* error);
    // Writes the whole file anew (mode 0600, folder 0700 when created).
    bool save(QString* error) const;
    // Loads again when the file changed since the last load; keeps the old
    // accounts (and says why) when the new file is refused.
    bool reloadIfChanged(QString* error);

    const std::vector<Account>& accounts() const { return m_accounts; }
    const Account* find(Account::Kind kind, const QString& name) const;
    // The token's account, when the token is known.
    const Account* findToken(const QString& token) const;
    void put(Account account);          // adds or replaces (same kind and name)
    bool remove(Account::Kind kind, const QString& name);

private:
    QString m_path;
    std::vector<Account> m_accounts;
    QDateTime m_loadedMtime;
    qint64 m_loadedSize = -1;
};

// A name for an account: 1..64 letters, digits, '.', '_', '-', '@'.
bool validAccountName(const QString& name);

} // namespace collector

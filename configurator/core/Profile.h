#pragma once

// Every access to the per-user application profile: company "Veltrona",
// application "Termset", section "Settings". On Linux the profile is an INI
// file under the user's configuration folder.

#include "remote/RemoteTerminal.h"

#include <QString>

#include <memory>

class QSettings;
class QVariant;

class Profile {
public:
    static constexpr int kDefaultIpPort = 15027;

    // The user's profile, or the file set with useFile.
    Profile();
    ~Profile();
    Profile(const Profile&) = delete;
    Profile& operator=(const Profile&) = delete;

    // "Param1": the password checksum, 0 meaning none was ever set. The
    // default differs by reader (0 for the start-up test, 1 for the check).
    int param1(int defaultValue) const;

    // "Language": the name of the chosen language library.
    QString language() const;

    // "IPPort": the TCP port of the remote gateway.
    int ipPort() const;

    // Each setter writes the value and the file at once and returns whether
    // both succeeded; on failure failureText() says what, in words.
    [[nodiscard]] bool setParam1(int checksum);
    [[nodiscard]] bool setLanguage(const QString& name);
    [[nodiscard]] bool setIpPort(int port);
    // The last failed write: the profile file and the reason, in the program's
    // language (string 61731); empty when no write has failed.
    QString failureText() const { return m_failure; }

    // "ConnectTimeout", "SendTimeout", "ReplyTimeout": the time limits of a
    // remote request's steps in whole seconds (0: no limit). A value that is
    // missing, not a number or negative gives the default.
    static constexpr int kDefaultConnectTimeout = 10;
    static constexpr int kDefaultSendTimeout = 10;
    static constexpr int kDefaultReplyTimeout = 20;
    int connectTimeout() const;
    int sendTimeout() const;
    int replyTimeout() const;
    // The three above as the time limits of a remote request.
    remote::Limits remoteLimits() const;

    // Makes every Profile use this INI file instead of the user's profile
    // (tests); an empty path restores the user's profile.
    static void useFile(const QString& path);
    static QString overrideFile();

private:
    int seconds(const char* key, int defaultValue) const;
    bool store(const char* key, const QVariant& value);

    std::unique_ptr<QSettings> m_settings;
    QString m_failure;
};

#pragma once

// Taking the password of a write: from a file named on the command line or
// typed on the terminal with echo off. The bytes are cleared from memory once
// they have been checked, and the terminal gets its echo back however the
// prompt ends, an interrupt (Ctrl-C) or SIGTERM included.

#include <QByteArray>
#include <QString>

namespace termsetcli {

// Password bytes that are overwritten with zeros when they go.
class SecretBytes {
public:
    SecretBytes() = default;
    ~SecretBytes();
    SecretBytes(const SecretBytes&) = delete;
    SecretBytes& operator=(const SecretBytes&) = delete;

    QByteArray& bytes() { return m_bytes; }
    const QByteArray& bytes() const { return m_bytes; }

private:
    QByteArray m_bytes;
};

// Overwrites the text's characters with zeros.
void wipe(QByteArray& bytes);
void wipe(QString& text);

struct PasswordFileRead {
    bool ok = false;
    QString error;          // why the file cannot be read
    bool exposed = false;   // its group or every user may read it
};

// Reads the first line of the file (without its line end) into `line`, and
// tells whether users other than its owner may read the file.
PasswordFileRead readPasswordFile(const QString& path, SecretBytes& line);

// Shows the prompt on standard error and reads one line from the terminal on
// standard input with echo off. False when the input ended before anything
// was typed. An interrupt or SIGTERM while it waits restores the terminal,
// then ends the program as the signal would have.
bool readHiddenLine(const QString& prompt, SecretBytes& line);

// Whether the password (UTF-8 bytes from a file, or the terminal's local
// encoding) has the stored checksum; the decoded copy is cleared too.
bool matchesChecksum(const SecretBytes& password, bool utf8, int storedChecksum);

} // namespace termsetcli

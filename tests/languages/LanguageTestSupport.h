#pragma once

// A temporary program folder filled with language libraries built for the
// tests (and, where a test asks, the real ones and other files).

#include <QFile>
#include <QRandomGenerator>
#include <QString>
#include <QTemporaryDir>
#include <QTest>

namespace langtest {

inline QString testLibrary(const QString& file) { return QStringLiteral(TEST_LIBRARY_FOLDER "/") + file; }
inline QString builtLibrary(const QString& file) { return QStringLiteral(PROGRAM_FOLDER "/") + file; }

class ProgramFolder {
public:
    QString path() const { return m_dir.path() + QLatin1Char('/'); }
    QString file(const QString& name) const { return m_dir.filePath(name); }

    // Copies `from` into the folder as `as`; fails the test if it cannot.
    bool copy(const QString& from, const QString& as)
    {
        if (!QFile::copy(from, file(as))) {
            qWarning("cannot copy %s to %s", qPrintable(from), qPrintable(file(as)));
            return false;
        }
        return true;
    }
    bool write(const QString& name, const QByteArray& data)
    {
        QFile f(file(name));
        return f.open(QIODevice::WriteOnly) && f.write(data) == data.size();
    }
    // A file of random bytes, as a damaged download would leave it. The seed
    // is fixed so that a failure can be repeated.
    bool writeRandom(const QString& name, int size, quint32 seed = 4711)
    {
        QRandomGenerator random(seed);
        QByteArray data(size, '\0');
        for (char& c : data)
            c = static_cast<char>(random.bounded(256));
        return write(name, data);
    }

private:
    QTemporaryDir m_dir;
};

} // namespace langtest

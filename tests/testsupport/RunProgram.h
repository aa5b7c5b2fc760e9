#pragma once

// Runs one of the built programs (regctl, rk40ctl, termset-cli) from the
// program folder with arguments and standard input, and keeps what it wrote.

#include "TestEnvironment.h"

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QStringList>

namespace testsupport {

struct Run {
    int status = -1;   // the exit code; -1 when it did not start or crashed
    QString out;
    QString err;
};

// Generous limits: the machine may be slow and busy.
inline Run runProgram(const QString& program, const QStringList& args, const QByteArray& input = {},
                      int timeoutMs = 180000)
{
    QProcess p;
    // A bare name is one of the built programs; a path is taken as it is.
    p.start(program.contains('/') ? program : TestEnvironment::programFolder() + "/" + program, args);
    if (!p.waitForStarted(30000))
        return {};
    p.write(input);
    p.closeWriteChannel();
    p.waitForFinished(timeoutMs);
    return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1, QString::fromUtf8(p.readAllStandardOutput()),
            QString::fromUtf8(p.readAllStandardError())};
}

} // namespace testsupport

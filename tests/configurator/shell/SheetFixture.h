#pragma once

// A private world for one sheet test: HOME and the component registry in a
// temporary folder with the control registered, the profile in an INI file
// there, a program folder of its own, and a prompter that records every
// message and answers every dialog.

#include "core/AppPaths.h"
#include "core/Profile.h"
#include "RecordingPrompter.h"
#include "TestBytes.h"
#include "TestEnvironment.h"

#include <QApplication>
#include <QDir>
#include <QTest>

struct SheetFixture {
    testsupport::TestEnvironment env;
    testsupport::RecordingPrompter prompter;
    QString registerError;
    bool registered = false;

    explicit SheetFixture(bool withControl = true)
    {
        registered = withControl && env.registerControl(&registerError);
        QDir(env.root()).mkpath(QStringLiteral("program"));
        apppaths::setProgramFolder(env.path(QStringLiteral("program")));
        Profile::useFile(env.path(QStringLiteral("profile.ini")));
    }
    // No window of the test is left open.
    ~SheetFixture()
    {
        Profile::useFile({});
        apppaths::setProgramFolder({});
        for (QWidget* w : QApplication::topLevelWidgets())
            QVERIFY2(!w->isVisible(), qPrintable(w->objectName()));
    }
    SheetFixture(const SheetFixture&) = delete;
    SheetFixture& operator=(const SheetFixture&) = delete;

    QString programFile(const QString& name) const { return env.path(QStringLiteral("program/") + name); }

    void writeProgramFile(const QString& name, const QByteArray& data) const
    {
        testsupport::writeFile(programFile(name), data);
    }

    // Messages as "look:text" for compact comparisons.
    QStringList messages() const { return prompter.lookTexts(); }
};

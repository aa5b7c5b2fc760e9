#include "shell/AboutBox.h"

#include "shell/AppIcon.h"
#include "pages/DialogUnits.h"
#include "platform/resources/Resources.h"

#include <QLabel>
#include <QPushButton>

CAboutBox::CAboutBox(QWidget* parent) : QDialog(parent)
{
    setObjectName(QString::number(kDialogId));
    setWindowTitle(resources::dialogText(kDialogId, 0));
    const DialogUnits du(font());
    setFixedSize(du.size(235, 55));

    auto* icon = new QLabel(this);
    icon->setObjectName(QStringLiteral("icon128"));
    icon->setPixmap(appIcon().pixmap(32, 32));
    icon->setGeometry(du.rect(11, 10, 20, 20));

    auto* label = new QLabel(resources::dialogText(kDialogId, 1001), this);
    label->setObjectName(QStringLiteral("1001"));
    label->setGeometry(du.rect(40, 10, 30, 8));
    auto* version = new QLabel(versionText(QString::fromLatin1(kVersionString)), this);
    version->setObjectName(QStringLiteral("1002"));
    version->setGeometry(du.rect(72, 10, 40, 8));
    auto* second = new QLabel(this);
    second->setObjectName(QStringLiteral("1003"));
    second->setGeometry(du.rect(114, 10, 60, 8));
    auto* notice = new QLabel(resources::dialogText(kDialogId, 1004), this);
    notice->setObjectName(QStringLiteral("1004"));
    notice->setGeometry(du.rect(40, 25, 135, 20));
    notice->setWordWrap(true);

    auto* ok = new QPushButton(resources::dialogText(kDialogId, 1), this);
    ok->setObjectName(QStringLiteral("1"));
    ok->setDefault(true);
    ok->setGeometry(du.rect(178, 7, 50, 14));
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
}

QString CAboutBox::versionText(const QString& versionString)
{
    QString v = versionString;
    v.remove(QLatin1Char(' '));
    v.replace(QLatin1Char(','), QLatin1Char('.'));
    const qsizetype lastPoint = v.lastIndexOf(QLatin1Char('.'));
    return lastPoint < 0 ? v : v.left(lastPoint);
}

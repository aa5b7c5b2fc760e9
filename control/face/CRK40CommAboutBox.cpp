#include "control/face/CRK40CommAboutBox.h"

#include "control/face/FaceTexts.h"
#include "control/face/StatusPictures.h"

#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace rk40::face {

CRK40CommAboutBox::CRK40CommAboutBox(QWidget* parent) : QDialog(parent)
{
    setObjectName(QString::number(kDialogId));
    setWindowTitle(aboutCaption());
    setWindowIcon(controlIcon());
    setModal(true);

    auto* icon = new QLabel(this);
    icon->setObjectName(QLatin1String(kIconName));
    icon->setPixmap(controlIcon().pixmap(48, 48));
    icon->setAlignment(Qt::AlignTop | Qt::AlignHCenter);

    auto* title = new QLabel(aboutTitleLine(), this);
    title->setObjectName(QLatin1String(kTitleName));
    QFont bold = title->font();
    bold.setBold(true);
    title->setFont(bold);
    auto* second = new QLabel(aboutSecondLine(), this);
    second->setObjectName(QLatin1String(kSecondLineName));

    auto* buttons = new QDialogButtonBox(this);
    QPushButton* ok = buttons->addButton(okButtonText(), QDialogButtonBox::AcceptRole);
    ok->setObjectName(QLatin1String(kOkName));
    ok->setDefault(true);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);

    auto* texts = new QVBoxLayout;
    texts->setSpacing(6);
    texts->addWidget(title);
    texts->addWidget(second);
    texts->addStretch();

    auto* top = new QHBoxLayout;
    top->setSpacing(14);
    top->addWidget(icon);
    top->addLayout(texts, 1);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(16, 16, 16, 12);
    layout->setSpacing(12);
    layout->addLayout(top);
    layout->addWidget(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);
}

CRK40CommAboutBox::~CRK40CommAboutBox() = default;


} // namespace rk40::face

#include "control/face/CRK40CommPropPageWidget.h"

#include "control/face/FaceTexts.h"

#include <QLabel>
#include <QVBoxLayout>

namespace rk40::face {

CRK40CommPropPageWidget::CRK40CommPropPageWidget(QWidget* parent) : QWidget(parent)
{
    setObjectName(QString::number(kDialogId));
    setWindowTitle(faceString(str::General));

    auto* placeholder = new QLabel(propPagePlaceholder(), this);
    placeholder->setObjectName(QLatin1String(kPlaceholderName));
    placeholder->setWordWrap(true);
    placeholder->setAlignment(Qt::AlignCenter);

    auto* layout = new QVBoxLayout(this);
    layout->addStretch();
    layout->addWidget(placeholder);
    layout->addStretch();
}

CRK40CommPropPageWidget::~CRK40CommPropPageWidget() = default;

} // namespace rk40::face

#include "control/face/FaceWiring.h"

#include "control/face/CRK40CommAboutBox.h"
#include "control/face/CRK40CommFace.h"
#include "control/face/CRK40CommPropPageWidget.h"

#include "platform/ui/Prompt.h"

namespace rk40::face {

CRK40CommFace* createFace(QWidget* parent, int statusBits, std::function<void()> onClick,
                          std::function<void()> onDoubleClick)
{
    auto* face = new CRK40CommFace(parent);
    face->setStatus(statusBits);
    face->setClickHandler(std::move(onClick));
    face->setDoubleClickHandler(std::move(onDoubleClick));
    return face;
}

void showStatus(QWidget* face, int statusBits)
{
    if (auto* f = qobject_cast<CRK40CommFace*>(face))
        f->setStatus(statusBits);
}

void showAboutBox(QWidget* parent)
{
    CRK40CommAboutBox box(parent ? parent->window() : nullptr);
    ui::prompter().exec(box);
}

QWidget* createPropertyPage(QWidget* parent)
{
    return new CRK40CommPropPageWidget(parent);
}

} // namespace rk40::face

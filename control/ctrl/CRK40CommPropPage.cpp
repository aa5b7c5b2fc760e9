#include "control/ctrl/CRK40CommPropPage.h"

#include "control/face/FaceWiring.h"

#include <QWidget>

#include <atomic>

namespace rk40 {

namespace {
std::atomic<int> g_livePages{0};
}

CRK40CommPropPage::CRK40CommPropPage()
{
    ++g_livePages;
}

CRK40CommPropPage::~CRK40CommPropPage()
{
    --g_livePages;
}

int CRK40CommPropPage::liveObjects()
{
    return g_livePages.load();
}

QWidget* CRK40CommPropPage::createPageWidget(QWidget* parent)
{
    return face::createPropertyPage(parent);
}

} // namespace rk40

#include "CRK40CommPropPage.h"

#include <QLabel>
#include <QVBoxLayout>
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
    auto* page = new QWidget(parent);
    page->setObjectName(QString::number(kDialogId));
    page->setWindowTitle(QStringLiteral("General"));
    auto* layout = new QVBoxLayout(page);
    auto* placeholder = new QLabel(QStringLiteral("The RK40Comm control has no properties to set here."), page);
    placeholder->setWordWrap(true);
    layout->addWidget(placeholder);
    layout->addStretch();
    return page;
}

} // namespace rk40

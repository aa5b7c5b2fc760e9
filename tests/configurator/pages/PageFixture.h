#pragma once

// The eight pages over a fake control, as the main sheet makes them.

#include "FakeControl.h"
#include "pages/Pages.h"
#include "PopupDriver.h"

#include <QCheckBox>
#include <QTest>
#include <memory>

namespace testpages {

struct PageSet {
    // Members go in reverse order: the pages after the first go before the
    // one that holds the control.
    std::shared_ptr<FakeState> state = std::make_shared<FakeState>();
    std::unique_ptr<CRK40TKPropPage> reader1 = std::make_unique<CRK40TKPropPage>(std::make_unique<FakeControl>(state));
    std::unique_ptr<CTK2PropPage> reader2 = std::make_unique<CTK2PropPage>(*reader1);
    std::unique_ptr<CTK3PropPage> reader3 = std::make_unique<CTK3PropPage>(*reader1);
    std::unique_ptr<CTK4PropPage> reader4 = std::make_unique<CTK4PropPage>(*reader1);
    std::unique_ptr<CRK40SensPropPage> sensors = std::make_unique<CRK40SensPropPage>(*reader1);
    std::unique_ptr<CRK40EgressPropPage> egress = std::make_unique<CRK40EgressPropPage>(*reader1);
    std::unique_ptr<CLEDPropPage> led = std::make_unique<CLEDPropPage>(*reader1);
    std::unique_ptr<CRandomPP> random = std::make_unique<CRandomPP>(*reader1);

    std::vector<CPropertyPage*> pages() const
    {
        return {reader1.get(), reader2.get(), reader3.get(), reader4.get(),
                sensors.get(), egress.get(), led.get(), random.get()};
    }
    CPropertyPage* page(int dialogId) const
    {
        for (CPropertyPage* p : pages())
            if (p->dialogId() == dialogId)
                return p;
        return nullptr;
    }
    QString word(int address) const { return state->eeprom[static_cast<std::size_t>(address)]; }
    void setWord(int address, const QString& text) { state->eeprom[static_cast<std::size_t>(address)] = text; }
};

template <typename T>
T* control(QWidget* page, int id)
{
    return page->findChild<T*>(QString::number(id));
}

// Clicks a field and picks a command from its popup. Returns false when no
// popup came.
inline bool chooseFromMenu(QWidget* field, int command)
{
    auto seen = answerNextPopup(command);
    QTest::mouseClick(field, Qt::LeftButton, {}, field->rect().center());
    return seen->shown;
}

// Shows a dialog's page and returns one of its fields, with the stores made
// so far forgotten, so that a test sees only what the field does.
inline QWidget* shownField(PageSet& set, int dialog, int id)
{
    CPropertyPage* page = set.page(dialog);
    page->show();
    page->OnSetActive();
    set.state->puts.clear();
    return control<QWidget>(page, id);
}

} // namespace testpages

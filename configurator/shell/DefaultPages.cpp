#include "shell/CRK40CnfPS.h"

#include "pages/Pages.h"

PageFactory defaultPages()
{
    return [](QWidget* parent) {
        SheetPages made;
        // Reader 1 first: it hosts the control that holds the image, and
        // every later page is given it.
        auto* reader1 = new CRK40TKPropPage(parent);
        made.pages = {reader1,
                      new CTK2PropPage(*reader1, parent),
                      new CTK3PropPage(*reader1, parent),
                      new CTK4PropPage(*reader1, parent),
                      new CRK40SensPropPage(*reader1, parent),
                      new CRK40EgressPropPage(*reader1, parent),
                      new CLEDPropPage(*reader1, parent),
                      new CRandomPP(*reader1, parent)};
        made.reader1 = reader1;
        made.comm = &reader1->comm();
        made.image = &reader1->comm();
        if (!reader1->comm().isCreated())
            made.controlError = reader1->controlError();
        return made;
    };
}

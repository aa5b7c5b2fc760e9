#pragma once

// The Sensors page (what the relays do when a door sensor opens or closes)
// and the Egress page (when an exit input is used). Their rows work exactly
// as the reader rows do.

#include "pages/RowPage.h"

class CRK40SensPropPage : public CRowPage {
    Q_OBJECT
public:
    static constexpr int kDialogId = 208;
    explicit CRK40SensPropPage(CRK40TKPropPage& reader1, QWidget* parent = nullptr);
};

class CRK40EgressPropPage : public CRowPage {
    Q_OBJECT
public:
    static constexpr int kDialogId = 207;
    explicit CRK40EgressPropPage(CRK40TKPropPage& reader1, QWidget* parent = nullptr);
};

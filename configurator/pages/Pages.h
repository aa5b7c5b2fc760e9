#pragma once

// The eight configuration pages, in tab order: Reader 1 to Reader 4,
// Sensors, Egress, LED, Random.

#include "pages/CLEDPropPage.h"
#include "pages/CRK40TKPropPage.h"
#include "pages/CRandomPP.h"
#include "pages/CyclingEdit.h"
#include "pages/EventPages.h"
#include "core/FieldCodes.h"

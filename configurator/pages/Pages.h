#pragma once

// The eight configuration pages, in tab order: Reader 1 to Reader 4,
// Sensors, Egress, LED, Random.

#include "CLEDPropPage.h"
#include "CRK40TKPropPage.h"
#include "CRandomPP.h"
#include "CyclingEdit.h"
#include "EventPages.h"
#include "FieldCodes.h"

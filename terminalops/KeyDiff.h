#pragma once

// What turns one identification table into another: keys to add, to
// remove, and keys whose access byte changes. Pure functions.

#include "terminalops/KeyTable.h"

#include <QString>

#include <vector>

namespace terminalops {

struct KeyChange {
    enum Kind { Add, Remove, Change };
    Kind kind = Add;
    QString id;
    int oldAccess = -1;   // Remove, Change: the access the terminal has
    int newAccess = -1;   // Add, Change: the access wanted
    bool operator==(const KeyChange&) const = default;
};

// The changes that make `current` equal to `wanted`, by id in ascending
// order. Names are not compared: terminals keep none.
std::vector<KeyChange> diffKeys(const KeyList& current, const KeyList& wanted);

// One line for a change: "+ ID ACCESS", "- ID", "~ ID OLD -> NEW".
QString describeChange(const KeyChange& change);

} // namespace terminalops

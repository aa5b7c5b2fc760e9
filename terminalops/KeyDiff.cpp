#include "terminalops/KeyDiff.h"

#include <map>

namespace terminalops {

std::vector<KeyChange> diffKeys(const KeyList& current, const KeyList& wanted)
{
    std::map<QString, int> have, want;
    for (const Key& k : current)
        have[k.id] = k.access;
    for (const Key& k : wanted)
        want[k.id] = k.access;
    std::map<QString, KeyChange> changes;
    for (const auto& [id, access] : have) {
        const auto w = want.find(id);
        if (w == want.end())
            changes[id] = {KeyChange::Remove, id, access, -1};
        else if (w->second != access)
            changes[id] = {KeyChange::Change, id, access, w->second};
    }
    for (const auto& [id, access] : want)
        if (!have.count(id))
            changes[id] = {KeyChange::Add, id, -1, access};
    std::vector<KeyChange> out;
    for (auto& [id, change] : changes)
        out.push_back(change);
    return out;
}

QString describeChange(const KeyChange& change)
{
    switch (change.kind) {
    case KeyChange::Add: return QStringLiteral("+ %1 %2").arg(change.id).arg(change.newAccess);
    case KeyChange::Remove: return QStringLiteral("- %1").arg(change.id);
    case KeyChange::Change:
        return QStringLiteral("~ %1 %2 -> %3").arg(change.id).arg(change.oldAccess).arg(change.newAccess);
    }
    return {};
}

} // namespace terminalops

#include "BlockLedger.h"

#include <algorithm>

namespace collector {

namespace {
// Marks of a file that is never read (removed before it was) are dropped
// oldest first beyond this many.
constexpr std::size_t kMostMarks = 4096;
} // namespace

void BlockLedger::add(BlockMark mark)
{
    std::lock_guard lock(m_mutex);
    if (m_marks.size() >= kMostMarks)
        m_marks.erase(m_marks.begin());
    m_marks.push_back(std::move(mark));
}

std::vector<BlockMark> BlockLedger::snapshot() const
{
    std::lock_guard lock(m_mutex);
    return m_marks;
}

void BlockLedger::forget(std::int64_t device, std::int64_t inode, std::int64_t offset)
{
    std::lock_guard lock(m_mutex);
    std::erase_if(m_marks, [&](const BlockMark& m) { return m.device == device && m.inode == inode && m.end <= offset; });
}

} // namespace collector

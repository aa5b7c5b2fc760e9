#pragma once

// Where each acknowledged block ended in the register file, noted by the
// port that took it (on its own thread, while the control holds the
// register file lock) and read by the store (on its thread), which gives
// the block's records that port.

#include <QString>

#include <cstdint>
#include <mutex>
#include <vector>

namespace collector {

struct BlockMark {
    std::int64_t device = 0;
    std::int64_t inode = 0;
    std::int64_t end = 0;  // offset just after the block's last record
    int records = 0;
    QString port;
};

class BlockLedger {
public:
    void add(BlockMark mark);
    std::vector<BlockMark> snapshot() const;
    // Marks of this file up to `offset` have been used.
    void forget(std::int64_t device, std::int64_t inode, std::int64_t offset);

private:
    mutable std::mutex m_mutex;
    std::vector<BlockMark> m_marks;
};

} // namespace collector

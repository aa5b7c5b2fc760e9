#include "Results.h"

namespace rk40::result {

std::string_view describeBlockResult(int code)
{
    switch (code) {
    case kOk: return "block accepted";
    case kBlockNoStx: return "no STX after the header byte";
    case kBlockBadHeader: return "header byte neither \"S\" nor \"V\", or missing";
    case kBlockSilence: return "silence inside the block";
    case kBlockTooLong: return "more data than the frame buffer holds";
    case kBlockBadChecksum: return "checksum wrong or missing";
    }
    return "unknown result";
}

} // namespace rk40::result

#pragma once

// How the simulated gateway answers the next request, in one call. Only for
// tests that link the gateway simulator.

#include "GatewaySimulator.h"

#include <chrono>

namespace testsupport {

// mode, the byte count where the reply is cut (or the piece size when
// dribbled or split), the delay between pieces, extra reply bytes beyond the
// receive buffer, and whether the connection stays open after the reply.
inline gatewaysim::Behaviour gatewayBehaviour(gatewaysim::Mode mode, int cut = 20, int delayMs = 0, int oversize = 0,
                                              bool keepOpen = false)
{
    return {.mode = mode, .cut = cut, .delay = std::chrono::milliseconds(delayMs), .raw = {}, .keepOpen = keepOpen,
            .oversize = oversize};
}

} // namespace testsupport

// A remote read from a gateway that neither ends its data with a full stop
// nor closes the connection: the reply must be taken within one second of
// its last byte (it is taken after a short silence). A gateway that sends
// the full stop gives the figure to compare with.

#include "BenchSupport.h"

#include "GatewaySimulator.h"
#include "core/MemoryImage.h"
#include "core/RemoteTransfer.h"

#include <QCoreApplication>

#include <algorithm>
#include <vector>

namespace {

// The slowest of several reads, in ms from the request to the words.
double slowestRead(gatewaysim::GatewaySimulator& gateway, bool fullStop)
{
    gatewaysim::Behaviour behaviour;
    behaviour.noFullStop = !fullStop;
    behaviour.keepOpen = true;
    gateway.setDefaultBehaviour(behaviour);
    double slowest = 0;
    for (int run = 0; run < 10; ++run) {
        image::MemoryImage image;
        const auto start = bench::Clock::now();
        const int result =
            remotexfer::RemoteTransfer().read({QStringLiteral("127.0.0.1"), gateway.port(), 1}, image).result;
        const double ms = bench::msSince(start);
        if (result != 0 || image.word(39).isEmpty()) {
            std::fprintf(stderr, "the read failed: %d\n", result);
            std::exit(1);
        }
        slowest = std::max(slowest, ms);
    }
    return slowest;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);   // no windows: the exchange runs here
    gatewaysim::GatewaySimulator gateway;
    QString error;
    if (!gateway.start(0, &error)) {
        std::fprintf(stderr, "gateway: %s\n", qPrintable(error));
        return 1;
    }
    // The gateway sends the whole reply at once, so the time of the read is
    // the time after its last byte.
    bench::report("remote read, full stop, connection kept open", slowestRead(gateway, true), 1000, 1.0);
    const bool ok = bench::report("remote read, no full stop, connection kept", slowestRead(gateway, false), 1000, 1.0);
    return ok ? 0 : 1;
}

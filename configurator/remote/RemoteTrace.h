#pragma once

#include <QLoggingCategory>

// Trace output of the remote link ("termset.remote"): request texts and the
// items of a write, for whoever follows an exchange with a gateway.
Q_DECLARE_LOGGING_CATEGORY(lcRemote)

#pragma once

#include "support/registry/ServerRegistry.h"

// The logging key ("Logging", no instance), shared by every instance.
class LoggingRegistry : public Kestlib500::ServerRegistry {
public:
    LoggingRegistry();

    // The text of "loggingPath", unchecked for type; empty when missing.
    Kestlib500::SWCharString ReadLoggingPath();
};

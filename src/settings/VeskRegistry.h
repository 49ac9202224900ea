#pragma once

#include "support/registry/ServerRegistry.h"

// The server key of one instance ("Orvane" and the instance name), with the
// operation's sub-key below it when that is not empty. One per operation.
class VeskRegistry : public Kestlib500::ServerRegistry {
public:
    VeskRegistry(const Kestlib500::SWCharString& instanceName, const Kestlib500::SWCharString& subKey);

    // The server key above every instance (below the hive), as these
    // objects compose it: the one source of that path.
    static const std::wstring& ServerKeyPath();
};

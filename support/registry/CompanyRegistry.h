#pragma once

#include "support/registry/Registry.h"

namespace Kestlib500 {

// The company's key, Software\Halvorn\Tessaly, under which every server
// keeps its settings.
class CompanyRegistry : public Registry {
protected:
    CompanyRegistry();
};

} // namespace Kestlib500

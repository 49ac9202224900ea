#pragma once

namespace Kestlib500 {

// The support library's process-wide resources. Initialize runs when a
// process loads the library, Terminate when it unloads it; Terminate closes
// the registry store, which reopens on its next use.
class SResManager {
public:
    static bool Initialize();
    static bool Terminate();
};

} // namespace Kestlib500

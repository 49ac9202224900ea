#pragma once

#include <string>

// The folder where the tool keeps what belongs to the machine rather than to
// one user: what a watcher running as a service and an administrator's
// command must both find. %ProgramData%\halvorn\vesk on Windows; natively
// a `vesk` folder beside the store file, since the store is the machine's
// registry there.
namespace vesk_tool {

// The folder `name` inside the machine folder ("" for the folder itself),
// created with any missing folder above it. Throws Failure(StoreFailure)
// naming the folder when it cannot be made.
std::wstring machineFolder(const std::wstring& name = std::wstring());

} // namespace vesk_tool

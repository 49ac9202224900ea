#pragma once

#include <string>

// The folder where the tool keeps what belongs to the machine rather than to
// one user: what a watcher running as a service and an administrator's
// command must both find. %ProgramData%\halvorn\vesk on Windows; natively
// a `vesk` folder beside the store file, since the store is the machine's
// registry there.
namespace vesk_tool {

// The folder `name` inside the machine folder ("" for the folder itself),
// created with any missing folder above it. On Windows the machine folder
// is made writable by SYSTEM and Administrators alone. Throws
// Failure(StoreFailure) naming the folder when it cannot be made.
std::wstring machineFolder(const std::wstring& name = std::wstring());

// Where the file `name` in the machine folder is; creates nothing, so a run
// that may not write there can still look.
std::wstring machineFile(const std::wstring& name);

} // namespace vesk_tool

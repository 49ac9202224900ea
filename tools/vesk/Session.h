#pragma once

#include "CommandLine.h"
#include "SettingsView.h"

#include <string>

// One command against the settings of one instance.
namespace vesk_tool {

class Session {
public:
    // `serverKey` is the library's "Software\...\Orvane".
    Session(VeskSettings& settings, std::wstring serverKey);

    VeskSettings& settings;
    SettingsView view;
    const std::wstring serverKey;

    // HKEY_LOCAL_MACHINE\<serverKey>[\<instance>]: where an instance's keys live.
    std::wstring rootOf(const std::wstring& instance) const;
    // The full path of a sub-key of the current instance, as messages,
    // listings and .reg files show it.
    std::wstring pathOf(const std::wstring& subKey) const;
    std::wstring instance() const;
    // The same key below HKEY_LOCAL_MACHINE, as the registry layer takes it.
    std::wstring keyPath(const std::wstring& subKey) const { return pathOf(subKey).substr(sizeof "HKEY_LOCAL_MACHINE\\" - 1); }
};

// Runs the command of `call` (already checked by parseCommandLine) and
// returns the exit status; failures throw Failure.
int runCommand(const Invocation& call, Session& session);

// The file commands, in Transfer.cpp.
int exportCommand(const Invocation& call, Session& session);
int importCommand(const Invocation& call, Session& session);

} // namespace vesk_tool

#pragma once

#include "tools/vesk/app/CommandLine.h"
#include "tools/vesk/app/SettingsView.h"
#include "vesk/VeskSettings.h"

#include <string>

// One command against the settings of one instance: the one place that turns
// an instance and a sub-key into registry paths.
namespace vesk_tool {

class Session {
public:
    // `instance` as --instance gave it, already checked by the command line;
    // empty for the library's default, the server key itself.
    explicit Session(std::wstring instance);
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    const std::wstring& instance() const { return name; }
    // Software\...\Orvane[\instance][\subKey]: the path below
    // HKEY_LOCAL_MACHINE that Kestlib500::RegistryKey takes.
    std::wstring keyPath(const std::wstring& subKey) const;
    // HKEY_LOCAL_MACHINE\Software\...\Orvane[\instance]: where an instance's
    // keys live, as messages and .reg files spell it.
    std::wstring rootOf(const std::wstring& instance) const;
    // rootOf(instance()) followed by \subKey when that is not empty.
    std::wstring pathOf(const std::wstring& subKey) const;
    // The library's uncached settings on instance(): what a host reads.
    VeskSettings& settings() { return object; }
    // One-pass listings and single-value queries on the registry layer.
    SettingsView view() const { return SettingsView(*this); }

    // Throws Failure(BadInput) naming the broken rule when `subKey` has an
    // empty element or the path passes the registry's limits.
    void checkSubKey(const std::wstring& subKey) const;
    // Whether `subKey` names the server key above every instance.
    bool isServerKey(const std::wstring& subKey) const;

private:
    const std::wstring name;
    const std::wstring serverKey; // Software\...\Orvane, as the settings code builds it
    VeskSettings object;
};

// Throws Failure(BadInput) when a value name passes the registry's limit.
void checkValueName(const std::wstring& name);

} // namespace vesk_tool

#pragma once

#include "RegFile.h"

#include <cstdint>
#include <string>
#include <vector>

// Turns a parsed .reg document into settings operations relative to one
// instance's key, checking everything the store would refuse before any of
// it is written.
namespace vesk_tool {

struct ImportStep {
    enum class Action { DeleteKey, CreateKey, SetString, SetDword, DeleteValue };

    Action action = Action::CreateKey;
    int line = 0;
    std::wstring subKey; // relative to the instance's key; empty for the key itself
    std::wstring name;
    std::wstring text;
    std::uint32_t dword = 0;
};

// The registry's own limits on names.
constexpr std::size_t MaxKeyNameLength = 255;
constexpr std::size_t MaxValueNameLength = 16383;

// `rootPath` is the full path of the instance's key as files spell it
// (HKEY_LOCAL_MACHINE\...); HKLM is accepted for the hive. Every key of the
// document must be that key or below it, else RegFileError names the line.
// CreateKey is planned only for a key that gets no value written, since
// writing a value creates its key.
std::vector<ImportStep> planImport(const RegDocument& document, const std::wstring& rootPath);

} // namespace vesk_tool

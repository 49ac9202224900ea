#pragma once

#include "support/registry/ValueText.h"

#include <string>
#include <vector>

// The registry seen from below the library: the registry layer's key on its
// own (advapi32 under Windows, the store natively), which the conformance
// suite holds to literal bytes. Paths are below HKEY_LOCAL_MACHINE. Tests
// use it to plant values the library would never write and to check what the
// library wrote, byte for byte.
namespace RawRegistry {

bool Set(const std::wstring& path, const wchar_t* name, DWORD type, const std::vector<unsigned char>& data);
bool Get(const std::wstring& path, const wchar_t* name, Kestlib500::RawValue& value);
bool KeyExists(const std::wstring& path);
bool DeleteTree(const std::wstring& path);

// Handy encodings of data.
std::vector<unsigned char> Dword(DWORD value);
std::vector<unsigned char> Text(const wchar_t* text);

// A name unique to this process and call, for scratch keys.
std::wstring UniqueName(const wchar_t* prefix);

} // namespace RawRegistry

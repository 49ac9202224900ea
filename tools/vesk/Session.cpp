#include "Session.h"

#include "Failure.h"
#include "Text.h"
#include "settings/VeskRegistry.h"
#include "support/registry/KeyPath.h"

namespace vesk_tool {
namespace {

const std::wstring Hive = L"HKEY_LOCAL_MACHINE\\";

// The key every instance lives under, from the code that builds the
// library's own paths, so the two cannot drift apart.
std::wstring serverKeyPath()
{
    const VeskRegistry server{Kestlib500::SWCharString(L""), Kestlib500::SWCharString(L"")};
    return server.GetPath();
}

} // namespace

Session::Session(std::wstring instance) : name(std::move(instance)), serverKey(serverKeyPath())
{
    object.SetInstanceName(WString(name.c_str()));
}

std::wstring Session::keyPath(const std::wstring& subKey) const
{
    std::wstring path = serverKey;
    if (!name.empty())
        path += L'\\' + name;
    if (!subKey.empty())
        path += L'\\' + subKey;
    return path;
}

std::wstring Session::rootOf(const std::wstring& instance) const
{
    return Hive + serverKey + (instance.empty() ? std::wstring() : L'\\' + instance);
}

std::wstring Session::pathOf(const std::wstring& subKey) const
{
    return Hive + keyPath(subKey);
}

void Session::checkSubKey(const std::wstring& subKey) const
{
    const Kestlib500::KeyPathProblem problem = Kestlib500::CheckKeyPath(keyPath(subKey));
    if (problem != Kestlib500::KeyPathProblem::None)
        throw Failure(BadInput, "sub-key '" + toUtf8(subKey) + "': " + Kestlib500::DescribeKeyPathProblem(problem));
}

bool Session::isServerKey(const std::wstring& subKey) const
{
    return keyPath(subKey) == serverKey;
}

void checkValueName(const std::wstring& name)
{
    if (!Kestlib500::ValueNameFits(name.c_str()))
        throw Failure(BadInput, "a value name may have at most 16,383 characters; this one has " +
                                    std::to_string(name.size()));
}

} // namespace vesk_tool

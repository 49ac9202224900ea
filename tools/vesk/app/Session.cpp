#include "tools/vesk/app/Session.h"

#include "tools/vesk/core/Failure.h"
#include "tools/vesk/core/Text.h"
#include "settings/VeskRegistry.h"
#include "support/registry/KeyPath.h"
#include "support/registry/NameFold.h"

namespace vesk_tool {

Session::Session(std::wstring instance) : name(std::move(instance)), serverKey(VeskRegistry::ServerKeyPath())
{
    object.SetInstanceName(WString(name.c_str()));
}

std::wstring Session::keyPath(const std::wstring& subKey) const
{
    return Kestlib500::JoinKeyPath(Kestlib500::JoinKeyPath(serverKey, name), subKey);
}

std::wstring Session::rootOf(const std::wstring& instance) const
{
    return Kestlib500::FullKeyPath(Kestlib500::JoinKeyPath(serverKey, instance));
}

std::wstring Session::pathOf(const std::wstring& subKey) const
{
    return Kestlib500::FullKeyPath(keyPath(subKey));
}

void Session::checkSubKey(const std::wstring& subKey) const
{
    const Kestlib500::KeyPathProblem problem = Kestlib500::CheckKeyPath(keyPath(subKey));
    if (problem != Kestlib500::KeyPathProblem::None)
        throw Failure(BadInput, "sub-key '" + toUtf8(subKey) + "': " + Kestlib500::DescribeKeyPathProblem(problem));
}

bool Session::isServerKey(const std::wstring& subKey) const
{
    return Kestlib500::FoldedPath(keyPath(subKey)) == Kestlib500::FoldedPath(serverKey);
}

void checkValueName(const std::wstring& name)
{
    if (!Kestlib500::ValueNameFits(name.c_str()))
        throw Failure(BadInput, Kestlib500::DescribeLongValueName(name));
}

} // namespace vesk_tool

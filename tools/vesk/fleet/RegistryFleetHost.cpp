#include "RegistryFleetHost.h"

#include "Failure.h"
#include "Progress.h"
#include "RegFile.h"
#include "Text.h"
#include "TreeReader.h"
#include "WholeImport.h"
#include "support/registry/RegistryKey.h"
#include "support/registry/RegistryTransaction.h"

#include <set>
#include <sstream>

namespace vesk_fleet {
namespace {

using vesk_tool::Failure;
using vesk_tool::ImportStep;

const std::wstring Hive = L"HKEY_LOCAL_MACHINE\\";
const wchar_t* const RevisionValue = L"AppliedRevision";

// Every value as one line led by its key, so that a value moving between
// keys shows, whatever order the keys come in.
std::set<std::string> linesOf(const vesk_tool::RegDocument& document)
{
    std::istringstream text(vesk_tool::writeRegFile(document, vesk_tool::RegEncoding::Utf8));
    std::set<std::string> lines;
    std::string key;
    std::string pending;
    for (std::string line; std::getline(text, line);) {
        if (!line.empty() && line.back() == '\\') {
            pending += line.substr(0, line.size() - 1);
            continue;
        }
        line = pending + line;
        pending.clear();
        if (line.empty() || line.rfind("Windows Registry Editor", 0) == 0)
            continue;
        if (line.front() == '[') {
            key = line;
            lines.insert(line);
        } else {
            lines.insert(key + " " + line);
        }
    }
    return lines;
}

} // namespace

RegistryFleetHost::RegistryFleetHost(std::wstring serverKey, std::wstring companyKey)
    : serverKey(std::move(serverKey)), companyKey(std::move(companyKey))
{
}

std::wstring RegistryFleetHost::instanceKey(const std::wstring& instance) const
{
    return serverKey + L'\\' + instance;
}

std::wstring RegistryFleetHost::revisionKey(const std::wstring& instance) const
{
    return companyKey + L"\\VeskFleet\\" + instance;
}

bool RegistryFleetHost::read(const std::wstring& instance, vesk_tool::RegDocument& into) const
{
    vesk_tool::Progress quiet("", 0, false);
    vesk_tool::TreeReader reader(quiet);
    bool found = false;
    {
        Kestlib500::RegistrySnapshot snapshot;
        found = reader.read(instanceKey(instance), into);
    }
    if (!reader.leftOut().empty())
        throw Failure(vesk_tool::WrongType, reader.leftOut().front() +
                                                ": a .reg file cannot carry that name; rename it (see 'vesk export')");
    return found;
}

std::string RegistryFleetHost::exportInstance(const std::wstring& instance)
{
    vesk_tool::RegDocument document;
    if (!read(instance, document))
        throw Failure(vesk_tool::NotFound, "no key " + vesk_tool::toUtf8(Hive + instanceKey(instance)) +
                                               ": check the instance with 'vesk list'");
    return vesk_tool::writeRegFile(document, vesk_tool::RegEncoding::Utf16);
}

std::vector<ImportStep> RegistryFleetHost::plan(const std::wstring& instance, std::string_view regBytes) const
{
    const std::wstring root = instanceKey(instance);
    try {
        return vesk_tool::planImport(vesk_tool::readRegFile(regBytes), Hive + root, root);
    } catch (const vesk_tool::RegFileError& error) {
        throw Failure(vesk_tool::BadInput, "fleet document of " + vesk_tool::toUtf8(instance) + ":" +
                                               std::to_string(error.line) + ": " + error.what() +
                                               "; nothing was changed");
    }
}

void RegistryFleetHost::checkDocument(const std::wstring& instance, std::string_view regBytes)
{
    plan(instance, regBytes);
}

void RegistryFleetHost::replaceInstance(const std::wstring& instance, std::string_view regBytes, std::int64_t revision)
{
    // The instance key goes first, so what the document lacks goes too.
    std::vector<ImportStep> steps{ImportStep{ImportStep::Action::DeleteKey, 0, instanceKey(instance), L"", {}}};
    std::vector<ImportStep> planned = plan(instance, regBytes);
    steps.insert(steps.end(), planned.begin(), planned.end());
    Kestlib500::RawValue recorded{REG_QWORD, std::vector<unsigned char>(8)};
    for (int i = 0; i < 8; ++i)
        recorded.data[static_cast<std::size_t>(i)] =
            static_cast<unsigned char>(static_cast<std::uint64_t>(revision) >> (8 * i));
    steps.push_back(ImportStep{ImportStep::Action::CreateKey, 0, revisionKey(instance), L"", {}});
    steps.push_back(ImportStep{ImportStep::Action::SetValue, 0, revisionKey(instance), RevisionValue, recorded});

    vesk_tool::Progress quiet("", 0, false);
    vesk_tool::applyWhole(L"fleet revision " + std::to_wstring(revision) + L" of " + instance, steps, companyKey,
                          quiet);
}

std::optional<std::int64_t> RegistryFleetHost::appliedRevision(const std::wstring& instance)
{
    const Kestlib500::RegistryKey key = Kestlib500::RegistryKey::Open(revisionKey(instance));
    Kestlib500::RawValue value;
    if (!key.IsOpen() || !key.Query(RevisionValue, value) || value.type != REG_QWORD || value.data.size() != 8)
        return std::nullopt;
    std::uint64_t revision = 0;
    for (int i = 7; i >= 0; --i)
        revision = (revision << 8) | value.data[static_cast<std::size_t>(i)];
    return static_cast<std::int64_t>(revision);
}

std::string RegistryFleetHost::describeChanges(const std::wstring& instance, std::string_view regBytes)
{
    vesk_tool::RegDocument current;
    read(instance, current);
    const std::set<std::string> before = linesOf(current);
    const std::set<std::string> after = linesOf(vesk_tool::readRegFile(regBytes));
    std::string diff;
    for (const std::string& line : before)
        if (!after.count(line))
            diff += "-" + line + "\n";
    for (const std::string& line : after)
        if (!before.count(line))
            diff += "+" + line + "\n";
    return diff;
}

} // namespace vesk_fleet

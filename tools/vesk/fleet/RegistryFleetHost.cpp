#include "tools/vesk/fleet/RegistryFleetHost.h"

#include "tools/vesk/core/Failure.h"
#include "tools/vesk/core/Progress.h"
#include "tools/vesk/core/RegFile.h"
#include "tools/vesk/core/Text.h"
#include "tools/vesk/core/TreeReader.h"
#include "tools/vesk/core/WholeImport.h"
#include "support/registry/KeyPath.h"
#include "support/registry/RegistryTransaction.h"

#include "tools/vesk/fleet/AppliedRecordKey.h"
#include "tools/vesk/fleet/Digest.h"
#include "tools/vesk/fleet/InstanceFiles.h"

#include <sstream>

namespace vesk_fleet {
namespace {

using vesk_tool::Failure;
using vesk_tool::ImportStep;

bool operator==(const AppliedRecord& a, const AppliedRecord& b)
{
    return a.revision == b.revision && a.clusterId == b.clusterId && a.digest == b.digest && a.overlay == b.overlay;
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
        throw Failure(vesk_tool::NotFound, "no key " + vesk_tool::toUtf8(Kestlib500::FullKeyPath(instanceKey(instance))) +
                                               ": check the instance with 'vesk list'");
    return vesk_tool::writeRegFile(document, vesk_tool::RegEncoding::Utf16);
}

std::vector<ImportStep> RegistryFleetHost::plan(const std::wstring& instance, std::string_view regBytes) const
{
    const std::wstring root = instanceKey(instance);
    try {
        return vesk_tool::planImport(vesk_tool::readRegFile(regBytes), Kestlib500::FullKeyPath(root), root);
    } catch (const vesk_tool::RegFileError& error) {
        throw Failure(vesk_tool::BadInput, "fleet document of " + vesk_tool::toUtf8(instance) + ":" +
                                               std::to_string(error.line) + ": " + error.what() +
                                               "; nothing was changed");
    }
}

void RegistryFleetHost::checkDocument(const std::wstring& instance, std::string_view regBytes)
{
    // Lines that differ from a document already applied, and parse, leave
    // it as readable as that one was.
    if (!fewLinesOf(instance, regBytes))
        documentTree(instance, regBytes);
}

InstanceTree RegistryFleetHost::localTree(const std::wstring& instance) const
{
    const std::wstring root = instanceKey(instance);
    vesk_tool::RegDocument local;
    read(instance, local);
    return InstanceTree(vesk_tool::planImport(std::move(local), Kestlib500::FullKeyPath(root), root), root);
}

const InstanceTree& RegistryFleetHost::documentTree(const std::wstring& instance, std::string_view regBytes)
{
    // One apply checks, compares and applies the same document: it is read once.
    for (const ParsedDocument& known : parsed)
        if (known.instance == instance && known.bytes == regBytes)
            return known.tree;
    const std::wstring root = instanceKey(instance);
    InstanceTree tree = regBytes.empty() ? InstanceTree({}, root) : InstanceTree(plan(instance, regBytes), root);
    parsed.push_back(ParsedDocument{instance, std::string(regBytes), std::move(tree)});
    if (parsed.size() > 2)
        parsed.pop_front();
    return parsed.back().tree;
}

Difference RegistryFleetHost::compare(const std::wstring& instance, Side from, Side to)
{
    unchanged.reset();
    if (!from.isLocal && !to.isLocal)
        return difference(documentTree(instance, from.regBytes), documentTree(instance, to.regBytes));
    lastLocal.reset();
    lastLocal.emplace(LocalRead{instance, localTree(instance)});
    const InstanceTree& local = lastLocal->tree;
    return difference(from.isLocal ? local : documentTree(instance, from.regBytes),
                      to.isLocal ? local : documentTree(instance, to.regBytes));
}

Difference RegistryFleetHost::applyInstance(const std::wstring& instance, std::string_view regBytes,
                                            const AppliedRecord& record)
{
    // Only what differs is written: a value kept across the pull is never
    // missing for a reader, and the instance key keeps its security.
    // The instance as applied and a document differing in a few lines:
    // those lines say it all. Else the local tree as the compare just
    // before read it (an apply compares first, for local changes): reading
    // 100,000 values twice costs more than the rest of the pull on Windows.
    std::string state;
    std::optional<Difference> delta = fewLines(instance, regBytes, record, state);
    const std::optional<AppliedRecord> before = appliedRecord(instance);
    if (!delta) {
        std::optional<LocalRead> seen = std::move(lastLocal);
        lastLocal.reset();
        if (seen && seen->instance != instance)
            seen.reset();
        if (!seen && localIsApplied && unchanged == instance)
            if (const auto applied = appliedDocument(instance))
                seen.emplace(LocalRead{instance, documentTree(instance, *applied)});
        if (!seen)
            seen.emplace(LocalRead{instance, localTree(instance)});
        const InstanceTree& wanted = documentTree(instance, regBytes);
        delta = difference(seen->tree, wanted, false);
        // What the instance holds once this is applied: the document's tree.
        state = record.digest + " " + wanted.stateDigest() + (wanted.plain() ? " plain" : "");
    }
    unchanged.reset();
    lastLocal.reset();
    few.reset();
    const Difference written = std::move(*delta);
    std::vector<ImportStep> steps = written.steps;
    if (!before || !(*before == record) || appliedState(instance) != state)
        AppliedRecordKey(revisionKey(instance)).appendWrites(steps, record, state, before);
    if (!steps.empty()) {
        vesk_tool::Progress quiet("", 0, false);
        vesk_tool::applyWhole(L"fleet revision " + std::to_wstring(record.revision) + L" of " + instance, steps,
                              companyKey, quiet);
    }
    InstanceFiles(instance).keepAppliedCopy(regBytes, before && before->digest == record.digest);
#if defined(_WIN32)
    // After the copy: the hint is only trusted with the copy at hand.
    AppliedRecordKey(revisionKey(instance)).noteWritten(instanceKey(instance));
#endif
    return written;
}

std::string RegistryFleetHost::appliedState(const std::wstring& instance) const
{
    return AppliedRecordKey(revisionKey(instance)).state();
}

bool RegistryFleetHost::unchangedSinceApply(const std::wstring& instance)
{
    unchanged.reset();
    lastLocal.reset();
    localIsApplied = false;
    const auto record = appliedRecord(instance);
    std::istringstream fields(appliedState(instance));
    std::string digest, stateDigest;
    fields >> digest >> stateDigest;
    if (!record || record->digest.empty() || digest != record->digest || stateDigest.empty())
        return false;
#if defined(_WIN32)
    // No key of the instance written since the apply: it holds the applied
    // document, whose tree stands in for reading every value.
    if (AppliedRecordKey(revisionKey(instance)).unwrittenSince(instanceKey(instance)) && appliedDocument(instance)) {
        localIsApplied = true;
        unchanged = instance;
        return true;
    }
#endif
    lastLocal.emplace(LocalRead{instance, localTree(instance)});
    if (lastLocal->tree.stateDigest() != stateDigest)
        return false;
    unchanged = instance;
    return true;
}

std::optional<AppliedRecord> RegistryFleetHost::appliedRecord(const std::wstring& instance)
{
    return AppliedRecordKey(revisionKey(instance)).read();
}

// The copy is the record's document only if its digest says so: a pull
// killed between the registry and the file leaves an older copy behind.
std::optional<std::string> RegistryFleetHost::appliedDocument(const std::wstring& instance)
{
    const auto record = appliedRecord(instance);
    if (!record || record->digest.empty())
        return std::nullopt;
    const std::optional<std::string> bytes = InstanceFiles(instance).appliedCopy();
    if (!bytes || bytes->empty() || sha256Hex(*bytes) != record->digest)
        return std::nullopt;
    return bytes;
}

std::string RegistryFleetHost::saveInstance(const std::wstring& instance)
{
    // A missing instance saves as a document holding nothing: that was its state.
    vesk_tool::RegDocument local;
    read(instance, local);
    return InstanceFiles(instance).save(vesk_tool::writeRegFile(local, vesk_tool::RegEncoding::Utf16), KeptSaves);
}

} // namespace vesk_fleet

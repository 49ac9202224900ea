#include "tools/vesk/core/Journal.h"

#include "tools/vesk/core/Failure.h"
#include "tools/vesk/core/Io.h"
#include "tools/vesk/core/RegEncoding.h"
#include "tools/vesk/core/PlanApplier.h"
#include "tools/vesk/core/Text.h"
#include "tools/vesk/core/TreeReader.h"
#include "support/registry/CompanyRegistry.h"
#include "support/registry/KeyPath.h"
#include "support/registry/NameFold.h"
#include "support/registry/RegistryKey.h"
#include "support/registry/RegistryTransaction.h"

#include <map>
#include <optional>
#include <set>

namespace vesk_tool {
namespace {

using Kestlib500::FoldedName;
using Kestlib500::FoldedPath;
using Kestlib500::FullKeyPath;
using Kestlib500::ParentKeyPath;
using Kestlib500::RawValue;
using Kestlib500::RegistryKey;

// Reads what the steps will change, before any of it is changed. Every
// record describes that one moment, so records that overlap agree and the
// restore may apply them in any order.
class PriorState {
public:
    explicit PriorState(std::wstring root) : root(FoldedPath(root)) {}

    void add(const ImportStep& step)
    {
        // A key's steps come in a run, and a key once covered stays so (the
        // sets only grow): a run's later steps skip the walk up its path.
        if (step.key == coveredKey)
            return;
        if (covered(step.key)) {
            coveredKey = step.key;
            return;
        }
        if (!exists(step.key)) {
            remember(highestMissing(step.key), removedKeys, removed);
            return;
        }
        switch (step.action) {
        case ImportStep::Action::DeleteKey:
            remember(step.key, savedKeys, saved);
            return;
        case ImportStep::Action::CreateKey:
            return;
        case ImportStep::Action::SetValue:
        case ImportStep::Action::DeleteValue:
            addValue(step);
            return;
        }
    }

    RegDocument document()
    {
        RegDocument undo;
        Progress quiet("", 0, false);
        TreeReader reader(quiet);
        for (const std::wstring& key : saved) {
            undo.keys.push_back(RegKey{0, FullKeyPath(key), true, {}});
            reader.read(key, undo);
        }
        if (!reader.leftOut().empty())
            throw Failure(StoreFailure, "cannot save the state before the import for recovery: " + reader.leftOut().front() +
                                            "; nothing was changed");
        for (const std::wstring& key : valueKeys)
            undo.keys.push_back(RegKey{0, FullKeyPath(key), false, prior(key, values[FoldedPath(key)])});
        for (const std::wstring& key : removed)
            undo.keys.push_back(RegKey{0, FullKeyPath(key), true, {}});
        return undo;
    }

private:
    struct Values {
        std::set<std::wstring> touched; // folded names the steps change
        std::vector<std::wstring> names; // each as first written
        bool deletes = false;            // a step deletes one of them
    };

    bool exists(const std::wstring& key)
    {
        const auto [at, added] = existing.emplace(FoldedPath(key), false);
        if (added)
            at->second = RegistryKey::Open(key).IsOpen();
        return at->second;
    }

    // Whether the key or a key above it is saved or removed whole.
    bool covered(const std::wstring& key) const
    {
        const std::wstring folded = FoldedPath(key);
        for (std::wstring_view at = folded; !at.empty();) {
            if (savedKeys.count(at) || removedKeys.count(at))
                return true;
            const std::size_t slash = at.rfind(L'\\');
            at = slash == std::wstring_view::npos ? std::wstring_view() : at.substr(0, slash);
        }
        return false;
    }

    std::wstring highestMissing(std::wstring key)
    {
        while (FoldedPath(key) != root && !ParentKeyPath(key).empty() && !exists(ParentKeyPath(key)))
            key = ParentKeyPath(key);
        return key;
    }

    using FoldedSet = std::set<std::wstring, std::less<>>; // looked up by views too

    static void remember(const std::wstring& key, FoldedSet& set, std::vector<std::wstring>& list)
    {
        if (set.insert(FoldedPath(key)).second)
            list.push_back(key);
    }

    // A key's values are read once, in one pass, and kept with the
    // spelling the registry has for their names, unless only a few are
    // written and none deleted: then each is asked for by name (a pull that
    // changes one value of 100,000 would else read them all). A value written
    // over keeps the name it has, so the name as written restores it alike.
    void addValue(const ImportStep& step)
    {
        auto [at, added] = values.try_emplace(FoldedPath(step.key));
        Values& key = at->second;
        if (added)
            valueKeys.push_back(step.key);
        if (key.touched.insert(FoldedName(step.name)).second)
            key.names.push_back(step.name);
        key.deletes = key.deletes || step.action == ImportStep::Action::DeleteValue;
    }

    static constexpr std::size_t AskedByName = 64;

    static std::vector<RegValue> prior(const std::wstring& path, const Values& touched)
    {
        const RegistryKey key = RegistryKey::Open(path);
        std::vector<RegValue> prior;
        if (touched.names.size() <= AskedByName && !touched.deletes) {
            for (const std::wstring& name : touched.names) {
                RawValue data;
                const bool there = key.Query(name.c_str(), data);
                prior.push_back(RegValue{0, name, !there, there ? data : RawValue{}});
            }
            return prior;
        }
        std::map<std::wstring, RegValue> stored; // by folded name, as they are now
        std::wstring name;
        RawValue data;
        for (DWORD i = 0; key.ValueAt(i, name, data); ++i)
            stored[FoldedName(name)] = RegValue{0, name, false, data};
        for (const std::wstring& wanted : touched.names) {
            const auto found = stored.find(FoldedName(wanted));
            prior.push_back(found == stored.end() ? RegValue{0, wanted, true, {}} : found->second);
        }
        return prior;
    }

    const std::wstring root;
    std::wstring coveredKey; // the last key found covered, as the steps spell it
    std::map<std::wstring, bool> existing;
    FoldedSet savedKeys, removedKeys;
    std::vector<std::wstring> saved, removed, valueKeys;
    std::map<std::wstring, Values> values;
};

// The journal's key, below the company's key beside the servers' keys.
class JournalRegistry : public Kestlib500::CompanyRegistry {
public:
    JournalRegistry() { AppendToPath(L"VeskJournal"); }
};

// The value of the journal key that holds the journal's .reg text.
constexpr wchar_t JournalValue[] = L"import";

std::wstring journalKey()
{
    return JournalRegistry().GetPath();
}

// What an operator does when the registry keeps a journal that must go.
std::string deleteByHand()
{
    return "delete the value \"" + toUtf8(JournalValue) + "\" of " + toUtf8(Journal::path());
}

// `bound` (HKEY_LOCAL_MACHINE\...): the journal writes nothing outside it.
void applyUndo(const RegDocument& undo, const std::wstring& bound)
{
    Progress quiet("", 0, false);
    applyPlan(planImport(undo, bound, belowHive(bound)), quiet);
}

} // namespace

RegDocument priorState(const std::vector<ImportStep>& steps, const std::wstring& root)
{
    return priorState(walkOf(steps), root);
}

RegDocument priorState(const StepWalk& steps, const std::wstring& root)
{
    PriorState state(root);
    steps([&](const ImportStep& step) { state.add(step); });
    return state.document();
}

Journal::Journal(const StepWalk& steps, const std::wstring& root)
{
    const std::string nothingChanged = ": nothing was changed";
    if (!lock.held())
        throw Failure(StoreFailure, "another import is running: wait for it to end and try again" + nothingChanged);
    // Read under the lock: no other import changes it before the first write.
    undo = priorState(steps, root);
    key = RegistryKey::Create(journalKey());
    DWORD type = 0;
    if (key.IsOpen() && key.QueryType(JournalValue, type))
        throw Failure(StoreFailure, "an interrupted import left its journal in " + toUtf8(path()) +
                                        ": run vesk again, which restores it, then import" + nothingChanged);
    const std::string text = writeRegFile(undo, RegEncoding::Utf16);
    if (!key.IsOpen() || !key.Set(JournalValue, RawValue{REG_BINARY, {text.begin(), text.end()}}))
        throw Failure(StoreFailure, "cannot write the recovery journal into " + toUtf8(path()) + nothingChanged);
}

Journal::~Journal() = default;

bool Journal::restore()
{
    try {
        applyUndo(undo, std::wstring(Kestlib500::HiveName));
    } catch (const std::exception&) {
        return false;
    }
    return key.DeleteValue(JournalValue);
}

void Journal::remove()
{
    if (!key.DeleteValue(JournalValue))
        throw Failure(StoreFailure, "the import landed, but the registry keeps its journal: " + deleteByHand() +
                                        " before the next vesk run, which would else put back the state before it");
}

std::wstring Journal::path()
{
    return Kestlib500::FullKeyPath(journalKey());
}

void recoverInterruptedImport(const std::wstring& serverPath)
{
    if (Kestlib500::RegistryTransaction::IsAtomic())
        return;
    // A user who may not write the registry's machine keys cannot restore it.
    RegistryKey key = RegistryKey::Open(journalKey(), RegistryKey::Access::ReadWrite);
    DWORD type = 0;
    if (!key.IsOpen() || !key.QueryType(JournalValue, type))
        return;
    const ImportLock lock;
    // Read under the lock: the import that held it may have ended meanwhile.
    RawValue journal;
    if (!lock.held() || !key.Query(JournalValue, journal))
        return;
    try {
        applyUndo(readRegFile(std::string(journal.data.begin(), journal.data.end())), serverPath);
    } catch (const std::exception& error) {
        throw Failure(StoreFailure, "an interrupted import left its journal in " + toUtf8(Journal::path()) +
                                        ", which could not be restored (" + error.what() +
                                        "): it is kept; fix the cause and run vesk again, or " + deleteByHand() +
                                        " to give up the state it holds");
    }
    if (!key.DeleteValue(JournalValue))
        throw Failure(StoreFailure, "an interrupted import's journal was restored, but the registry keeps it: " +
                                        deleteByHand() + ", or the next run restores it again over later changes");
    writeErrLine("vesk: an import was interrupted: its keys were restored to their state before it, from " + toUtf8(Journal::path()));
}

} // namespace vesk_tool

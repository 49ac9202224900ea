#include "tools/vesk/fleet/RegistryFleetHost.h"

#include "tools/vesk/core/Failure.h"
#include "tools/vesk/core/Progress.h"
#include "tools/vesk/core/RegFile.h"
#include "tools/vesk/core/Text.h"
#include "tools/vesk/core/TreeReader.h"
#include "tools/vesk/core/WholeImport.h"
#include "support/registry/KeyPath.h"
#include "support/registry/RegistryKey.h"
#include "support/registry/RegistryTransaction.h"
#include "support/text/LittleEndian.h"

#include "tools/vesk/core/Io.h"
#include "tools/vesk/core/MachineFolder.h"
#include "tools/vesk/fleet/ChunkCache.h"
#include "tools/vesk/fleet/Digest.h"
#include "tools/vesk/fleet/FleetStore.h"
#include "tools/vesk/fleet/LineDelta.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <map>
#include <regex>
#include <sstream>
#include <unordered_map>

#if defined(_WIN32)
#include <windows.h>
#endif

namespace vesk_fleet {
namespace {

namespace fs = std::filesystem;
using vesk_tool::Failure;
using vesk_tool::ImportStep;

const wchar_t* const RevisionValue = L"AppliedRevision";
const wchar_t* const ClusterValue = L"AppliedCluster";
const wchar_t* const DigestValue = L"AppliedDigest";
// The revision of the host's overlay applied on top (REG_QWORD), absent when none.
const wchar_t* const OverlayValue = L"AppliedOverlay";
// "<AppliedDigest> <the instance's state digest once that document was applied>",
// then " plain" when that document is (InstanceTree::plain): it names its
// document, so a record written without it is never matched.
const wchar_t* const StateValue = L"AppliedState";
// Windows: the newest last-write time (FILETIME) of the instance's keys just
// after the apply. Only a hint, written after the apply's own change: when no
// key was written since, the instance is as applied, and its values need not
// be read (100,000 of them cost about as much as writing them).
const wchar_t* const WrittenValue = L"AppliedWritten";

fs::path pathOf(const std::wstring& path)
{
#if defined(_WIN32)
    return fs::path(path);
#else
    return fs::u8path(vesk_tool::toUtf8(path));
#endif
}

std::wstring wide(const fs::path& path)
{
#if defined(_WIN32)
    return path.wstring();
#else
    return vesk_tool::fromUtf8(path.string());
#endif
}

std::string shown(const fs::path& path)
{
#if defined(_WIN32)
    return vesk_tool::toUtf8(path.wstring());
#else
    return path.string();
#endif
}

// A file name for the instance: its folded name where that is plain, with
// a digest of it when something had to be replaced, so names never collide.
std::string fileStem(const std::wstring& instance)
{
    const std::string folded = vesk_tool::toUtf8(foldedName(instance));
    std::string stem;
    bool replaced = false;
    for (const char c : folded) {
        const bool plain = (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '_' || c == '.';
        stem += plain ? c : '_';
        replaced = replaced || !plain;
    }
    return replaced ? stem + "~" + sha256Hex(folded).substr(0, 8) : stem;
}

Kestlib500::RawValue qwordValue(std::int64_t number)
{
    Kestlib500::RawValue value{REG_QWORD, {}};
    vesk_text::appendLittleEndian(value.data, static_cast<std::uint64_t>(number), 8);
    return value;
}

// ASCII text (a digest, a cluster id) as REG_SZ.
Kestlib500::RawValue textValue(const std::string& text)
{
    Kestlib500::RawValue value{REG_SZ, {}};
    for (const char c : text) {
        value.data.push_back(static_cast<unsigned char>(c));
        value.data.push_back(0);
    }
    value.data.insert(value.data.end(), {0, 0});
    return value;
}

std::optional<std::string> textOf(const Kestlib500::RawValue& value)
{
    if (value.type != REG_SZ || value.data.size() % 2 != 0)
        return std::nullopt;
    std::string text;
    for (std::size_t i = 0; i + 1 < value.data.size() && (value.data[i] || value.data[i + 1]); i += 2) {
        if (value.data[i + 1] != 0 || value.data[i] >= 0x80)
            return std::nullopt;
        text += static_cast<char>(value.data[i]);
    }
    return text;
}

#if defined(_WIN32)
// The newest last-write time of `path` and every key below it; nullopt when
// a key cannot be opened or asked (then nothing is known).
std::optional<std::uint64_t> newestWrite(const std::wstring& path)
{
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ | KEY_WOW64_64KEY, &key) != ERROR_SUCCESS)
        return std::nullopt;
    DWORD subKeys = 0, longest = 0;
    FILETIME written{};
    std::optional<std::uint64_t> newest;
    if (RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &subKeys, &longest, nullptr, nullptr, nullptr, nullptr,
                         nullptr, &written) == ERROR_SUCCESS) {
        newest = (std::uint64_t(written.dwHighDateTime) << 32) | written.dwLowDateTime;
        std::vector<std::wstring> children;
        std::wstring name(longest + 1, L'\0');
        for (DWORD i = 0; newest && i < subKeys; ++i) {
            DWORD size = static_cast<DWORD>(name.size());
            if (RegEnumKeyExW(key, i, name.data(), &size, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
                newest.reset();
            else
                children.emplace_back(name.data(), size);
        }
        for (const std::wstring& child : children) {
            const auto below = newest ? newestWrite(path + L'\\' + child) : std::nullopt;
            newest = below ? std::optional<std::uint64_t>(std::max(*newest, *below)) : std::nullopt;
        }
    }
    RegCloseKey(key);
    return newest;
}
#endif

bool operator==(const AppliedRecord& a, const AppliedRecord& b)
{
    return a.revision == b.revision && a.clusterId == b.clusterId && a.digest == b.digest && a.overlay == b.overlay;
}

// Saved states are named <stem>-<sequence>-<time>.reg: the sequence orders
// them whatever the clock does.
std::map<long, fs::path> savedStates(const fs::path& folder, const std::string& stem)
{
    static const std::regex tail(R"((\d{6})-\d{8}T\d{6}Z\.reg)");
    std::map<long, fs::path> found;
    std::error_code error;
    for (const fs::directory_entry& entry : fs::directory_iterator(folder, error)) {
        const std::string name = shown(entry.path().filename());
        std::smatch match;
        const std::string rest = name.size() > stem.size() + 1 ? name.substr(stem.size() + 1) : std::string();
        if (name.compare(0, stem.size() + 1, stem + "-") == 0 && std::regex_match(rest, match, tail))
            found.emplace(std::stol(match[1].str()), entry.path());
    }
    return found;
}

std::string compactUtcNow()
{
    std::string stamp;
    for (const char c : utcNow())
        if (c != '-' && c != ':')
            stamp += c;
    return stamp;
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
    if (!before || !(*before == record) || appliedState(instance) != state) {
        const std::wstring key = revisionKey(instance);
        steps.push_back(ImportStep{ImportStep::Action::CreateKey, 0, key, L"", {}});
        steps.push_back(ImportStep{ImportStep::Action::SetValue, 0, key, RevisionValue, qwordValue(record.revision)});
        steps.push_back(ImportStep{ImportStep::Action::SetValue, 0, key, ClusterValue, textValue(record.clusterId)});
        steps.push_back(ImportStep{ImportStep::Action::SetValue, 0, key, DigestValue, textValue(record.digest)});
        steps.push_back(ImportStep{ImportStep::Action::SetValue, 0, key, StateValue, textValue(state)});
        if (record.overlay != 0)
            steps.push_back(ImportStep{ImportStep::Action::SetValue, 0, key, OverlayValue, qwordValue(record.overlay)});
        else if (before && before->overlay != 0)
            steps.push_back(ImportStep{ImportStep::Action::DeleteValue, 0, key, OverlayValue, {}});
    }
    if (!steps.empty()) {
        vesk_tool::Progress quiet("", 0, false);
        vesk_tool::applyWhole(L"fleet revision " + std::to_wstring(record.revision) + L" of " + instance, steps,
                              companyKey, quiet);
    }
    keepAppliedCopy(instance, regBytes, before && before->digest == record.digest);
#if defined(_WIN32)
    // After the copy: the hint is only trusted with the copy at hand.
    if (const auto newest = newestWrite(instanceKey(instance))) {
        Kestlib500::RegistryKey key = Kestlib500::RegistryKey::Open(revisionKey(instance), Kestlib500::RegistryKey::Access::ReadWrite);
        Kestlib500::RawValue was;
        if (key.IsOpen() && !(key.Query(WrittenValue, was) && was.data == qwordValue(static_cast<std::int64_t>(*newest)).data))
            key.Set(WrittenValue, qwordValue(static_cast<std::int64_t>(*newest)));
    }
#endif
    return written;
}

std::string RegistryFleetHost::appliedState(const std::wstring& instance) const
{
    const Kestlib500::RegistryKey key = Kestlib500::RegistryKey::Open(revisionKey(instance));
    Kestlib500::RawValue value;
    if (!key.IsOpen() || !key.Query(StateValue, value))
        return std::string();
    return textOf(value).value_or("");
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
    const Kestlib500::RegistryKey revision = Kestlib500::RegistryKey::Open(revisionKey(instance));
    Kestlib500::RawValue written;
    const auto newest = newestWrite(instanceKey(instance));
    if (newest && revision.Query(WrittenValue, written) && written.data == qwordValue(static_cast<std::int64_t>(*newest)).data &&
        appliedDocument(instance)) {
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

const RegistryFleetHost::FewLines* RegistryFleetHost::fewLinesOf(const std::wstring& instance, std::string_view regBytes)
{
    if (few && few->instance == instance && few->bytes == regBytes)
        return &*few;
    few.reset();
    const auto record = appliedRecord(instance);
    std::istringstream fields(appliedState(instance));
    std::string digest, stateDigest, plain;
    fields >> digest >> stateDigest >> plain;
    if (!record || record->digest.empty() || digest != record->digest || plain != "plain")
        return nullptr;
    const auto applied = appliedDocument(instance);
    if (!applied)
        return nullptr;
    const auto lines = lineDelta(*applied, regBytes);
    if (!lines)
        return nullptr;
    const std::wstring root = instanceKey(instance);
    try {
        FewLines found{instance, std::string(regBytes), digest, stateDigest, {},
                       InstanceTree(plan(instance, lines->before), root), InstanceTree(plan(instance, lines->after), root)};
        // Both sides under the one [key] line they start with: the values
        // of that key, the keys above it holding none.
        for (const InstanceTree* tree : {&found.before, &found.after}) {
            if (!tree->plain())
                return nullptr;
            const std::wstring& deepest = tree->keys().rbegin()->first;
            if (!found.key.empty() && found.key != deepest)
                return nullptr;
            found.key = deepest;
            for (const auto& [folded, key] : tree->keys())
                if (folded != deepest && (!key.values.empty() || deepest.compare(0, folded.size() + 1, folded + L'\\') != 0))
                    return nullptr;
        }
        few.emplace(std::move(found));
    } catch (const Failure&) {
        return nullptr; // the whole document is read, and its fault named
    }
    return &*few;
}

std::optional<Difference> RegistryFleetHost::fewLines(const std::wstring& instance, std::string_view regBytes,
                                                      const AppliedRecord& record, std::string& state)
{
    // The instance holds the applied document (unchangedSinceApply said so just now).
    const auto applied = appliedRecord(instance);
    if (unchanged != instance || !applied)
        return std::nullopt;
    const FewLines* lines = fewLinesOf(instance, regBytes);
    if (!lines || lines->base != applied->digest)
        return std::nullopt;
    const std::string shifted = InstanceTree::shiftedDigest(lines->baseState, lines->key, lines->before.keys().at(lines->key).values,
                                                            lines->after.keys().at(lines->key).values);
    if (shifted.empty())
        return std::nullopt;
    const InstanceTree::Key& was = lines->before.keys().at(lines->key);
    const InstanceTree::Key& now = lines->after.keys().at(lines->key);
    std::unordered_map<std::wstring_view, const InstanceTree::Value*> old;
    for (const InstanceTree::Value& value : was.values)
        old.emplace(value.folded, &value);
    const Kestlib500::RegistryKey key = Kestlib500::RegistryKey::Open(now.path);
    if (!key.IsOpen())
        return std::nullopt;
    Difference written;
    for (const InstanceTree::Value& value : now.values) {
        const auto found = old.find(value.folded);
        if (found != old.end()) {
            const auto& had = found->second->value.value;
            old.erase(found);
            if (had.type == value.value.value.type && had.data == value.value.value.data)
                continue;
        } else {
            // A new line of a name the applied document holds elsewhere: the
            // document sets it twice, and only the whole of it says which wins.
            Kestlib500::RawValue there;
            if (key.Query(value.value.name.c_str(), there))
                return std::nullopt;
        }
        written.steps.push_back(ImportStep{ImportStep::Action::SetValue, 0, now.path, value.value.name, value.value.value});
        ++written.valuesSet;
    }
    for (const InstanceTree::Value& value : was.values)
        if (old.count(value.folded)) {
            written.steps.push_back(ImportStep{ImportStep::Action::DeleteValue, 0, now.path, value.value.name, {}});
            ++written.valuesDeleted;
        }
    state = record.digest + " " + shifted + " plain";
    return written;
}

std::optional<AppliedRecord> RegistryFleetHost::appliedRecord(const std::wstring& instance)
{
    const Kestlib500::RegistryKey key = Kestlib500::RegistryKey::Open(revisionKey(instance));
    Kestlib500::RawValue value;
    if (!key.IsOpen() || !key.Query(RevisionValue, value) || value.type != REG_QWORD || value.data.size() != 8)
        return std::nullopt;
    AppliedRecord record;
    record.revision = static_cast<std::int64_t>(vesk_text::readLittleEndian(value.data.data(), 8));
    // A record from before digests were kept has none: its document is unknown.
    if (key.Query(ClusterValue, value))
        record.clusterId = textOf(value).value_or("");
    if (key.Query(DigestValue, value))
        record.digest = textOf(value).value_or("");
    if (key.Query(OverlayValue, value) && value.type == REG_QWORD && value.data.size() == 8)
        for (int i = 7; i >= 0; --i)
            record.overlay = (record.overlay << 8) | value.data[static_cast<std::size_t>(i)];
    return record;
}

// The copy is kept after the registry holds the record; a copy that is
// missing or stale no longer matches the digest and is not used. It only
// spares asking etcd, so the pull stands without it.
void RegistryFleetHost::keepAppliedCopy(const std::wstring& instance, std::string_view regBytes, bool sameDocument) const
{
    std::error_code ignored;
    try {
        const fs::path copy = appliedCopyPath(instance);
        if (sameDocument && fs::exists(copy, ignored))
            return;
        placeCheckedCopy(copy, regBytes);
    } catch (const Failure&) {
    }
}

fs::path RegistryFleetHost::appliedCopyPath(const std::wstring& instance) const
{
    return pathOf(vesk_tool::machineFolder(L"fleet")) / (fileStem(instance) + ".reg");
}

// The copy is the record's document only if its digest says so: a pull
// killed between the registry and the file leaves an older copy behind.
std::optional<std::string> RegistryFleetHost::appliedDocument(const std::wstring& instance)
{
    const auto record = appliedRecord(instance);
    if (!record || record->digest.empty())
        return std::nullopt;
    std::string bytes;
    try {
        bytes = vesk_tool::readFile(wide(appliedCopyPath(instance)));
    } catch (const Failure&) {
        return std::nullopt; // no machine folder, or no copy
    }
    if (bytes.empty() || sha256Hex(bytes) != record->digest)
        return std::nullopt;
    return bytes;
}

std::string RegistryFleetHost::saveInstance(const std::wstring& instance)
{
    // A missing instance saves as a document holding nothing: that was its state.
    vesk_tool::RegDocument local;
    read(instance, local);
    const std::string bytes = vesk_tool::writeRegFile(local, vesk_tool::RegEncoding::Utf16);
    const fs::path folder = pathOf(vesk_tool::machineFolder(L"saved"));
    const std::string stem = fileStem(instance);
    std::map<long, fs::path> saved = savedStates(folder, stem);
    char sequence[16];
    std::snprintf(sequence, sizeof sequence, "%06ld", saved.empty() ? 1L : (saved.rbegin()->first + 1) % 1000000);
    const fs::path file = folder / (stem + "-" + sequence + "-" + compactUtcNow() + ".reg");
    // The operator's only copy of what the pull overwrites: whole and on the disk first.
    vesk_tool::replaceFile(wide(file), bytes);
    saved.emplace(std::stol(sequence), file);
    while (saved.size() > KeptSaves) {
        std::error_code ignored;
        fs::remove(saved.begin()->second, ignored);
        saved.erase(saved.begin());
    }
    return shown(file);
}

} // namespace vesk_fleet

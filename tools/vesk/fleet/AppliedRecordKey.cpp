#include "tools/vesk/fleet/AppliedRecordKey.h"

#include "support/registry/RegistryKey.h"
#include "support/text/LittleEndian.h"

#include <algorithm>

#if defined(_WIN32)
#include <windows.h>
#endif

namespace vesk_fleet {
namespace {

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

} // namespace

AppliedRecordKey::AppliedRecordKey(std::wstring path) : path(std::move(path))
{
}

std::optional<AppliedRecord> AppliedRecordKey::read() const
{
    const Kestlib500::RegistryKey key = Kestlib500::RegistryKey::Open(path);
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

std::string AppliedRecordKey::state() const
{
    const Kestlib500::RegistryKey key = Kestlib500::RegistryKey::Open(path);
    Kestlib500::RawValue value;
    if (!key.IsOpen() || !key.Query(StateValue, value))
        return std::string();
    return textOf(value).value_or("");
}

void AppliedRecordKey::appendWrites(std::vector<ImportStep>& steps, const AppliedRecord& record, const std::string& state,
                                    const std::optional<AppliedRecord>& before) const
{
    steps.push_back(ImportStep{ImportStep::Action::CreateKey, 0, path, L"", {}});
    steps.push_back(ImportStep{ImportStep::Action::SetValue, 0, path, RevisionValue, qwordValue(record.revision)});
    steps.push_back(ImportStep{ImportStep::Action::SetValue, 0, path, ClusterValue, textValue(record.clusterId)});
    steps.push_back(ImportStep{ImportStep::Action::SetValue, 0, path, DigestValue, textValue(record.digest)});
    steps.push_back(ImportStep{ImportStep::Action::SetValue, 0, path, StateValue, textValue(state)});
    if (record.overlay != 0)
        steps.push_back(ImportStep{ImportStep::Action::SetValue, 0, path, OverlayValue, qwordValue(record.overlay)});
    else if (before && before->overlay != 0)
        steps.push_back(ImportStep{ImportStep::Action::DeleteValue, 0, path, OverlayValue, {}});
}

#if defined(_WIN32)
void AppliedRecordKey::noteWritten(const std::wstring& instanceKey) const
{
    if (const auto newest = newestWrite(instanceKey)) {
        Kestlib500::RegistryKey key = Kestlib500::RegistryKey::Open(path, Kestlib500::RegistryKey::Access::ReadWrite);
        Kestlib500::RawValue was;
        if (key.IsOpen() && !(key.Query(WrittenValue, was) && was.data == qwordValue(static_cast<std::int64_t>(*newest)).data))
            key.Set(WrittenValue, qwordValue(static_cast<std::int64_t>(*newest)));
    }
}

bool AppliedRecordKey::unwrittenSince(const std::wstring& instanceKey) const
{
    const Kestlib500::RegistryKey revision = Kestlib500::RegistryKey::Open(path);
    Kestlib500::RawValue written;
    const auto newest = newestWrite(instanceKey);
    return newest && revision.Query(WrittenValue, written) &&
           written.data == qwordValue(static_cast<std::int64_t>(*newest)).data;
}
#endif

} // namespace vesk_fleet

#include "FakeHosts.h"

#include "tools/vesk/core/Failure.h"
#include "tools/vesk/core/ImportPlan.h"
#include "tools/vesk/core/RegFile.h"
#include "tools/vesk/core/Text.h"

#include <stdexcept>

namespace vesk_fleet_test {

void MemoryHost::checkDocument(const std::wstring&, std::string_view regBytes)
{
    try {
        vesk_tool::readRegFile(regBytes);
    } catch (const vesk_tool::RegFileError& error) {
        throw vesk_tool::Failure(vesk_tool::BadInput, "fleet document:" + std::to_string(error.line) + ": " + error.what());
    }
}

vesk_fleet::InstanceTree MemoryHost::tree(const std::wstring& instance, vesk_fleet::Side side)
{
    const std::wstring root = L"Software\\Halvorn\\Tessaly\\Orvane\\" + instance;
    const std::string local = side.isLocal ? exportInstance(instance) : std::string();
    const std::string_view bytes = side.isLocal ? std::string_view(local) : side.regBytes;
    if (bytes.empty())
        return vesk_fleet::InstanceTree({}, root);
    return vesk_fleet::InstanceTree(vesk_tool::planImport(vesk_tool::readRegFile(bytes), L"HKEY_LOCAL_MACHINE\\" + root, root), root);
}

vesk_fleet::Difference MemoryHost::compare(const std::wstring& instance, vesk_fleet::Side from, vesk_fleet::Side to)
{
    return vesk_fleet::difference(tree(instance, from), tree(instance, to));
}

std::string MemoryHost::exportInstance(const std::wstring& instance)
{
    std::lock_guard<std::recursive_mutex> guard(lock);
    return instances[instance].document;
}

vesk_fleet::Difference MemoryHost::applyInstance(const std::wstring& instance, std::string_view regBytes,
                                                 const vesk_fleet::AppliedRecord& record)
{
    std::lock_guard<std::recursive_mutex> guard(lock);
    vesk_fleet::Difference written = compare(instance, vesk_fleet::Side::local(), vesk_fleet::Side::document(regBytes));
    instances[instance] = Instance{std::string(regBytes), std::string(regBytes), record};
    replacements += written.empty() ? 0 : 1;
    return written;
}

std::optional<vesk_fleet::AppliedRecord> MemoryHost::appliedRecord(const std::wstring& instance)
{
    std::lock_guard<std::recursive_mutex> guard(lock);
    return instances[instance].record;
}

std::optional<std::string> MemoryHost::appliedDocument(const std::wstring& instance)
{
    std::lock_guard<std::recursive_mutex> guard(lock);
    const Instance& known = instances[instance];
    return known.record ? std::optional<std::string>(known.applied) : std::nullopt;
}

std::string MemoryHost::saveInstance(const std::wstring& instance)
{
    std::lock_guard<std::recursive_mutex> guard(lock);
    saved.push_back(instances[instance].document);
    return "memory:" + std::to_string(saved.size());
}

void MemoryHost::set(const std::wstring& instance, std::string regBytes)
{
    std::lock_guard<std::recursive_mutex> guard(lock);
    instances[instance].document = std::move(regBytes);
}

std::string sampleDocument(const std::wstring& instance, int count, const std::wstring& valuePrefix)
{
    // Written out as the registry editor writes it, so it depends on no
    // model of the format.
    std::wstring text = L"Windows Registry Editor Version 5.00\r\n\r\n[HKEY_LOCAL_MACHINE\\Software\\Halvorn\\Tessaly\\Orvane\\" +
                        instance + L"\\Fleet]\r\n";
    for (int i = 0; i < count; ++i)
        text += L"\"Setting" + std::to_wstring(i) + L"\"=\"" + valuePrefix + std::to_wstring(i) + L"\"\r\n";
    text += L"\r\n";
    return "\xFF\xFE" + vesk_tool::toUtf16le(text);
}

} // namespace vesk_fleet_test

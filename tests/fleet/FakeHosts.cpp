#include "FakeHosts.h"

#include "Failure.h"
#include "RegFile.h"
#include "Text.h"

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

std::string MemoryHost::describeChanges(const std::wstring&, std::string_view)
{
    throw std::logic_error("in-process tests make no dry runs");
}

std::string MemoryHost::exportInstance(const std::wstring& instance)
{
    std::lock_guard<std::mutex> guard(lock);
    return instances[instance].document;
}

void MemoryHost::replaceInstance(const std::wstring& instance, std::string_view regBytes, std::int64_t revision)
{
    std::lock_guard<std::mutex> guard(lock);
    instances[instance] = Instance{std::string(regBytes), revision};
    ++replacements;
}

std::optional<std::int64_t> MemoryHost::appliedRevision(const std::wstring& instance)
{
    std::lock_guard<std::mutex> guard(lock);
    return instances[instance].revision;
}

void MemoryHost::set(const std::wstring& instance, std::string regBytes)
{
    std::lock_guard<std::mutex> guard(lock);
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

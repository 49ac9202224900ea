#include "Failure.h"
#include "ImportPlan.h"
#include "Io.h"
#include "RegFile.h"
#include "Session.h"
#include "Text.h"
#include "ValueSyntax.h"

#include <optional>

namespace vesk_tool {
namespace {

#if defined(_WIN32)
constexpr RegEncoding PlatformEncoding = RegEncoding::Utf16;
#else
constexpr RegEncoding PlatformEncoding = RegEncoding::Utf8;
#endif

// The key's values and, depth first, its sub-keys, as the editor orders them.
class Exporter {
public:
    explicit Exporter(Session& session) : session(session) {}

    void add(const std::wstring& subKey)
    {
        RegKey key;
        key.path = session.pathOf(subKey);
        if (!canWriteKeyPath(key.path)) {
            ++skipped;
            writeErrLine("vesk: warning: key " + toUtf8(key.path) + " has a name a .reg file cannot carry; left out with its sub-keys");
            return;
        }
        for (const NamedValue& value : session.view().values(subKey))
            if (auto exported = convert(subKey, key.path, value))
                key.values.push_back(*exported);
        document.keys.push_back(key);
        for (const std::wstring& child : session.view().subKeys(subKey))
            add(SettingsView::join(subKey, child));
    }

    RegDocument document;
    int skipped = 0;

private:
    std::optional<RegValue> convert(const std::wstring& subKey, const std::wstring& path, const NamedValue& value)
    {
        RegValue out;
        out.name = value.name;
        if (!canWriteName(value.name))
            return skip(path, value.name, "has a name a .reg file cannot carry (a line break, a NUL or half a surrogate pair)");
        switch (session.view().typeOf(subKey, value.name)) {
        case StoredType::Dword: {
            const std::uint32_t bits = parseDword(value.data).value_or(0);
            out.value = {REG_DWORD, {static_cast<unsigned char>(bits), static_cast<unsigned char>(bits >> 8),
                                     static_cast<unsigned char>(bits >> 16), static_cast<unsigned char>(bits >> 24)}};
            return out;
        }
        case StoredType::String:
            if (value.data.find_first_of(L"\r\n") != std::wstring::npos)
                return skip(path, value.name, "holds a line break, which a .reg string cannot carry");
            out.value = {REG_SZ, Kestlib500::TextBytes(value.data.c_str())};
            return out;
        case StoredType::Other:
            break;
        }
        return skip(path, value.name, "is neither a string nor a dword");
    }

    std::nullopt_t skip(const std::wstring& path, const std::wstring& name, const std::string& why)
    {
        ++skipped;
        writeErrLine("vesk: warning: value " + (name.empty() ? std::string("@") : "\"" + toUtf8(name) + "\"") +
                     " of " + toUtf8(path) + " " + why + "; left out");
        return std::nullopt;
    }

    Session& session;
};

// Writing any value creates its key; the settings offer no other way.
bool createKey(Session& session, const std::wstring& subKey)
{
    const WString placeholder(L"vesk import: creating the key");
    VeskSettings& settings = session.settings();
    return settings.SetStringValue(toWString(subKey), placeholder, WString()) &&
           settings.DeleteValue(toWString(subKey), placeholder);
}

// Applies one checked step; false when the store refused it.
bool apply(Session& session, const ImportStep& step)
{
    VeskSettings& settings = session.settings();
    const WString subKey = toWString(step.subKey);
    switch (step.action) {
    case ImportStep::Action::DeleteKey:
        return !session.view().keyExists(step.subKey) || settings.DeleteKey(subKey);
    case ImportStep::Action::CreateKey:
        return session.view().keyExists(step.subKey) || createKey(session, step.subKey);
    case ImportStep::Action::SetString:
        return settings.SetStringValue(subKey, toWString(step.name), toWString(step.text));
    case ImportStep::Action::SetDword:
        return settings.SetIntValue(subKey, toWString(step.name), static_cast<int>(step.dword));
    case ImportStep::Action::DeleteValue:
        return !session.view().find(step.subKey, step.name) || settings.DeleteValue(subKey, toWString(step.name));
    }
    return false;
}

} // namespace

int exportCommand(const Invocation& call, Session& session)
{
    const std::wstring subKey = call.operands.empty() ? std::wstring() : call.operands[0];
    if (!session.view().keyExists(subKey))
        throw Failure(NotFound, "no key " + toUtf8(session.pathOf(subKey)) + ": check the name with 'vesk list'");
    Exporter exporter(session);
    exporter.add(subKey);

    const std::wstring encoding = call.option(L"--encoding");
    const RegEncoding chosen = encoding.empty() ? PlatformEncoding : encoding == L"utf16" ? RegEncoding::Utf16 : RegEncoding::Utf8;
    const std::string bytes = writeRegFile(exporter.document, chosen);
    if (call.has(L"--output"))
        writeFile(call.option(L"--output"), bytes);
    else
        writeOut(bytes);

    if (exporter.skipped > 0)
        throw Failure(WrongType, std::to_string(exporter.skipped) +
                                     " value(s) left out, see the warnings above: the settings hold only strings and dwords");
    return Success;
}

int importCommand(const Invocation& call, Session& session)
{
    const std::wstring& file = call.operands[0];
    const std::wstring source = call.has(L"--from-instance") ? call.option(L"--from-instance") : session.instance();
    std::vector<ImportStep> steps;
    try {
        steps = planImport(readRegFile(readFile(file)), session.rootOf(source));
    } catch (const RegFileError& error) {
        throw Failure(BadInput, toUtf8(file) + ":" + std::to_string(error.line) + ": " + error.what() +
                                    "; nothing was imported");
    }
    for (const ImportStep& step : steps)
        if (!apply(session, step))
            throw Failure(StoreFailure, toUtf8(file) + ":" + std::to_string(step.line) +
                                            ": the store refused this line and the lines before it were applied: "
                                            "on Windows HKEY_LOCAL_MACHINE needs an administrator");
    return Success;
}

} // namespace vesk_tool

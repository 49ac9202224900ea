#include "Failure.h"
#include "Io.h"
#include "Session.h"
#include "Text.h"
#include "ValueSyntax.h"

namespace vesk_tool {
namespace {

std::string quoted(const std::wstring& name)
{
    return name.empty() ? "@ (the default value)" : "\"" + toUtf8(name) + "\"";
}

[[noreturn]] void storeRefused(const std::string& what)
{
    throw Failure(StoreFailure, "the store refused to " + what +
                                    ": on Windows HKEY_LOCAL_MACHINE needs an administrator; on Linux check that the store file is writable");
}

[[noreturn]] void wrongType(Session& session, const std::wstring& subKey, const std::wstring& name, const std::wstring& asked)
{
    const StoredType stored = session.view.typeOf(subKey, name);
    const std::string hint = stored == StoredType::Dword    ? "it is a dword: read it with --type int"
                             : stored == StoredType::String ? "it is a string: read it with --type string or bool"
                                                            : "its type cannot be read by the settings: see 'vesk list'";
    throw Failure(WrongType, "value " + quoted(name) + " of " + toUtf8(session.pathOf(subKey)) + " is not stored as " +
                                 toUtf8(asked) + ": " + hint);
}

std::wstring defaultText(const std::wstring& type, const std::wstring& given)
{
    if (type == L"int")
        return formatInt(*parseDword(given));
    if (type == L"bool")
        return *parseBool(given) ? L"true" : L"false";
    return given;
}

int get(const Invocation& call, Session& session)
{
    const std::wstring& subKey = call.operands[0];
    const std::wstring& name = call.operands[1];
    const std::wstring type = call.option(L"--type", L"string");
    if (!session.view.find(subKey, name)) {
        if (!call.has(L"--default"))
            throw Failure(NotFound, "no value " + quoted(name) + " in " + toUtf8(session.pathOf(subKey)) +
                                        ": check the names with 'vesk list', or give --default");
        writeOutLine(defaultText(type, call.option(L"--default")));
        return Success;
    }
    VeskSettings& settings = session.settings;
    try {
        if (type == L"int")
            writeOutLine(std::to_wstring(settings.GetIntValue(toWString(subKey), toWString(name), 0)));
        else if (type == L"bool")
            writeOutLine(settings.GetBoolValue(toWString(subKey), toWString(name), false) ? L"true" : L"false");
        else
            writeOutLine(fromWString(settings.GetStringValue(toWString(subKey), toWString(name), WString())));
    } catch (const VeskSettings::BadKeyTypeError&) {
        wrongType(session, subKey, name, type);
    }
    return Success;
}

int set(const Invocation& call, Session& session)
{
    const WString subKey = toWString(call.operands[0]);
    const WString name = toWString(call.operands[1]);
    const std::wstring& text = call.operands[2];
    const std::wstring type = call.option(L"--type");
    VeskSettings& settings = session.settings;
    bool written = false;
    if (type == L"int")
        written = settings.SetIntValue(subKey, name, static_cast<int>(*parseDword(text)));
    else if (type == L"bool")
        written = settings.SetBoolValue(subKey, name, *parseBool(text));
    else
        written = settings.SetStringValue(subKey, name, toWString(text));
    if (!written)
        storeRefused("write " + quoted(call.operands[1]) + " in " + toUtf8(session.pathOf(call.operands[0])));
    return Success;
}

[[noreturn]] void missingKey(Session& session, const std::wstring& subKey)
{
    throw Failure(NotFound, "no key " + toUtf8(session.pathOf(subKey)) + ": check the name with 'vesk list'");
}

int remove(const Invocation& call, Session& session)
{
    const std::wstring& subKey = call.operands[0];
    if (call.operands.size() == 2) {
        const std::wstring& name = call.operands[1];
        if (!session.view.find(subKey, name))
            throw Failure(NotFound, "no value " + quoted(name) + " in " + toUtf8(session.pathOf(subKey)) +
                                        ": check the names with 'vesk list'");
        if (!session.settings.DeleteValue(toWString(subKey), toWString(name)))
            storeRefused("delete " + quoted(name) + " of " + toUtf8(session.pathOf(subKey)));
        return Success;
    }
    // With no instance the root is the key of every instance together.
    if (subKey.empty() && session.instance().empty())
        throw Failure(BadInput, "refusing to delete the settings of every instance: give --instance NAME");
    if (!session.view.keyExists(subKey))
        missingKey(session, subKey);
    if (!session.settings.DeleteKey(toWString(subKey)))
        storeRefused("delete " + toUtf8(session.pathOf(subKey)));
    return Success;
}

int exists(const Invocation& call, Session& session)
{
    if (!session.view.keyExists(call.operands[0]))
        missingKey(session, call.operands[0]);
    return Success;
}

int loggingPath(Session& session)
{
    const std::wstring path = fromWString(session.settings.GetLoggingPath());
    if (path.empty()) {
        const std::wstring product = session.serverKey.substr(0, session.serverKey.find_last_of(L'\\'));
        throw Failure(NotFound, "no logging path is set: set the value loggingPath of HKEY_LOCAL_MACHINE\\" +
                                    toUtf8(product) + "\\Logging");
    }
    writeOutLine(path);
    return Success;
}

// The data on one line: the enumeration joins multi-strings with line breaks.
std::wstring oneLine(std::wstring data)
{
    for (std::size_t at = 0; (at = data.find(L'\n', at)) != std::wstring::npos; at += 2)
        data.replace(at, 1, L"\\0");
    return data;
}

void listKey(Session& session, const std::wstring& subKey, bool recursive)
{
    writeOutLine(session.pathOf(subKey));
    for (const NamedValue& value : session.view.values(subKey))
        writeOutLine(L"    " + (value.name.empty() ? L"@" : value.name) + L"    " + oneLine(value.data));
    const std::vector<std::wstring> children = session.view.subKeys(subKey);
    if (recursive || !children.empty())
        writeOutLine(L"");
    for (const std::wstring& child : children) {
        if (recursive)
            listKey(session, SettingsView::join(subKey, child), true);
        else
            writeOutLine(session.pathOf(SettingsView::join(subKey, child)));
    }
}

int list(const Invocation& call, Session& session)
{
    const std::wstring subKey = call.operands.empty() ? std::wstring() : call.operands[0];
    if (!session.view.keyExists(subKey))
        missingKey(session, subKey);
    listKey(session, subKey, call.has(L"--recursive"));
    return Success;
}

} // namespace

Session::Session(VeskSettings& object, std::wstring key) : settings(object), view(object), serverKey(std::move(key)) {}

std::wstring Session::instance() const
{
    return fromWString(settings.GetInstanceName());
}

std::wstring Session::rootOf(const std::wstring& name) const
{
    const std::wstring server = L"HKEY_LOCAL_MACHINE\\" + serverKey;
    return name.empty() ? server : server + L'\\' + name;
}

std::wstring Session::pathOf(const std::wstring& subKey) const
{
    const std::wstring root = rootOf(instance());
    return subKey.empty() ? root : root + L'\\' + subKey;
}

int runCommand(const Invocation& call, Session& session)
{
    const std::wstring& command = call.command;
    if (command == L"get")
        return get(call, session);
    if (command == L"set")
        return set(call, session);
    if (command == L"list")
        return list(call, session);
    if (command == L"delete")
        return remove(call, session);
    if (command == L"exists")
        return exists(call, session);
    if (command == L"logging-path")
        return loggingPath(session);
    if (command == L"export")
        return exportCommand(call, session);
    return importCommand(call, session);
}

} // namespace vesk_tool

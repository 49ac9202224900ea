#include "tools/vesk/Commands.h"

#include "tools/vesk/CommandLine.h"
#include "tools/vesk/Failure.h"
#include "tools/vesk/Io.h"
#include "tools/vesk/Session.h"
#include "tools/vesk/Text.h"
#include "tools/vesk/Transfer.h"
#include "tools/vesk/ValueSyntax.h"
#include "settings/LoggingRegistry.h"
#include "support/registry/KeyPath.h"

namespace vesk_tool {
namespace {

std::string quoted(const std::wstring& name)
{
    return name.empty() ? "@ (the default value)" : "\"" + toUtf8(name) + "\"";
}

[[noreturn]] void storeRefused(const std::string& what)
{
#if defined(_WIN32)
    const char* fix = "writing HKEY_LOCAL_MACHINE needs an administrator: run vesk from an elevated prompt";
#else
    const char* fix = "check that you may write the store file ($KESTLIB_REGISTRY) and its directory";
#endif
    throw Failure(StoreFailure, "the registry refused to " + what + ": " + fix);
}

[[noreturn]] void missingValue(Session& session, const std::wstring& subKey, const std::wstring& name, const char* more)
{
    throw Failure(NotFound, "no value " + quoted(name) + " in " + toUtf8(session.pathOf(subKey)) +
                                ": check the names with 'vesk list'" + more);
}

[[noreturn]] void missingKey(Session& session, const std::wstring& subKey)
{
    throw Failure(NotFound, "no key " + toUtf8(session.pathOf(subKey)) + ": check the name with 'vesk list'");
}

[[noreturn]] void wrongType(Session& session, const std::wstring& subKey, const std::wstring& name,
                            const std::wstring& asked, DWORD stored)
{
    const StoredType type = storedTypeOf(stored);
    const std::string hint = type == StoredType::Dword    ? "it is a dword: read it with --type int"
                             : type == StoredType::String ? "it is a string: read it with --type string or bool"
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

// The registry says whether the value is there; the settings read it, with
// the text forms and the type check a host gets.
int get(const Invocation& call, Session& session)
{
    const std::wstring& subKey = call.operands[0];
    const std::wstring& name = call.operands[1];
    const std::wstring type = call.option(L"--type", L"string");
    const std::optional<DWORD> stored = session.view().typeCode(subKey, name);
    if (!stored) {
        if (!call.has(L"--default"))
            missingValue(session, subKey, name, ", or give --default");
        writeOutLine(defaultText(type, call.option(L"--default")));
        return Success;
    }
    VeskSettings& settings = session.settings();
    try {
        if (type == L"int")
            writeOutLine(std::to_wstring(settings.GetIntValue(toWString(subKey), toWString(name), 0)));
        else if (type == L"bool")
            writeOutLine(settings.GetBoolValue(toWString(subKey), toWString(name), false) ? L"true" : L"false");
        else
            writeOutLine(fromWString(settings.GetStringValue(toWString(subKey), toWString(name), WString())));
    } catch (const VeskSettings::BadKeyTypeError&) {
        wrongType(session, subKey, name, type, *stored);
    }
    return Success;
}

int set(const Invocation& call, Session& session)
{
    const WString subKey = toWString(call.operands[0]);
    const WString name = toWString(call.operands[1]);
    const std::wstring& text = call.operands[2];
    const std::wstring type = call.option(L"--type");
    VeskSettings& settings = session.settings();
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

int remove(const Invocation& call, Session& session)
{
    const std::wstring& subKey = call.operands[0];
    if (call.operands.size() == 2) {
        const std::wstring& name = call.operands[1];
        if (!session.view().typeCode(subKey, name))
            missingValue(session, subKey, name, "");
        if (!session.settings().DeleteValue(toWString(subKey), toWString(name)))
            storeRefused("delete " + quoted(name) + " of " + toUtf8(session.pathOf(subKey)));
        return Success;
    }
    if (session.isServerKey(subKey))
        throw Failure(BadInput, "refusing to delete the settings of every instance: give --instance NAME");
    if (!session.view().keyExists(subKey))
        missingKey(session, subKey);
    if (!session.settings().DeleteKey(toWString(subKey)))
        storeRefused("delete " + toUtf8(session.pathOf(subKey)));
    return Success;
}

int exists(const Invocation& call, Session& session)
{
    if (!session.view().keyExists(call.operands[0]))
        missingKey(session, call.operands[0]);
    return Success;
}

int loggingPath(Session& session)
{
    const std::wstring path = fromWString(session.settings().GetLoggingPath());
    if (path.empty()) {
        const LoggingRegistry logging;
        throw Failure(NotFound, "no logging path is set: set the value loggingPath of " +
                                    toUtf8(Kestlib500::FullKeyPath(logging.GetPath())));
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

void listKey(Session& session, const std::wstring& subKey, const KeyListing& listing, bool recursive)
{
    writeOutLine(session.pathOf(subKey));
    for (const NamedValue& value : listing.values)
        writeOutLine(L"    " + (value.name.empty() ? L"@" : value.name) + L"    " + oneLine(value.data));
    if (recursive || !listing.subKeys.empty())
        writeOutLine(L"");
    for (const std::wstring& child : listing.subKeys) {
        const std::wstring childKey = Kestlib500::JoinKeyPath(subKey, child);
        if (recursive)
            listKey(session, childKey, session.view().list(childKey), true);
        else
            writeOutLine(session.pathOf(childKey));
    }
}

int list(const Invocation& call, Session& session)
{
    const std::wstring subKey = call.operands.empty() ? std::wstring() : call.operands[0];
    if (!session.view().keyExists(subKey))
        missingKey(session, subKey);
    listKey(session, subKey, session.view().list(subKey), call.has(L"--recursive"));
    return Success;
}

struct Handler {
    const wchar_t* command;
    int (*run)(const Invocation&, Session&);
};

const Handler Handlers[] = {
    {L"get", get},
    {L"set", set},
    {L"list", list},
    {L"delete", remove},
    {L"exists", exists},
    {L"logging-path", [](const Invocation&, Session& session) { return loggingPath(session); }},
    {L"export", exportCommand},
    {L"import", importCommand},
};

// Names and sub-keys are checked against the registry's rules before any
// command touches it, so a bad one is an input error, never a store failure.
void checkOperands(const Invocation& call, const Session& session)
{
    const bool importing = call.command == L"import";
    if (!call.operands.empty() && !importing && call.command != L"logging-path")
        session.checkSubKey(call.operands[0]);
    const bool named = call.command == L"get" || call.command == L"set" || call.command == L"delete";
    if (named && call.operands.size() >= 2)
        checkValueName(call.operands[1]);
}

} // namespace

int runCommand(const Invocation& call, Session& session)
{
    checkOperands(call, session);
    for (const Handler& handler : Handlers)
        if (call.command == handler.command)
            return handler.run(call, session);
    throw Failure(BadInput, "unknown command '" + toUtf8(call.command) + "' (see 'vesk --help')");
}

} // namespace vesk_tool

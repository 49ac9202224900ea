// The settings commands: each one defined once, its options, help and action.
#include "tools/vesk/app/CommandLine.h"
#include "tools/vesk/app/Session.h"
#include "tools/vesk/core/Failure.h"
#include "tools/vesk/core/Io.h"
#include "tools/vesk/core/Text.h"
#include "tools/vesk/core/ValueTypes.h"
#include "settings/LoggingRegistry.h"
#include "support/registry/KeyPath.h"

#include <CLI/CLI.hpp>

#include <memory>

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

// The hint names the --type that reads what is stored, from the value-type table.
[[noreturn]] void wrongType(Session& session, const std::wstring& subKey, const std::wstring& name,
                            const std::string& asked, DWORD stored)
{
    std::string types;
    for (const ValueType& type : valueTypes())
        if (type.cliName && type.code == stored)
            types += (types.empty() ? "read it with --type " : " or ") + std::string(type.cliName);
    throw Failure(WrongType, "value " + quoted(name) + " of " + toUtf8(session.pathOf(subKey)) + " is not stored as " +
                                 asked + ": " + (types.empty() ? "its type cannot be read by the settings: see 'vesk list'" : types));
}

// --type: the row of the value-type table get and set use.
struct TypeOption {
    std::string name = "string";
    const ValueType& row() const { return *valueTypeNamed(name); }
};

CLI::Option* addTypeOption(CLI::App* command, TypeOption& type, const std::string& help)
{
    return command->add_option("--type", type.name, help)->check(CLI::IsMember(cliTypeNames()));
}

// `text` as get prints a value of `type`; one that does not parse is a
// usage error, found before anything runs.
std::wstring checkedText(const TypeOption& type, const std::string& text, const std::string& what)
{
    if (const auto shown = type.row().parse(fromUtf8(text)))
        return *shown;
    refuseUsage(what + " '" + text + "' is not " + type.row().expected);
}

// A sub-key operand, checked against the registry's rules before any
// command touches it, so a bad one is an input error, never a store failure.
std::wstring subKeyOf(const Session& session, const std::string& operand)
{
    const std::wstring subKey = fromUtf8(operand);
    session.checkSubKey(subKey);
    return subKey;
}

std::wstring valueNameOf(const std::string& operand)
{
    const std::wstring name = fromUtf8(operand);
    checkValueName(name);
    return name;
}

struct GetCall {
    std::string subKey, name;
    TypeOption type;
    std::string fallback;
    std::optional<std::wstring> shownDefault; // --default as get prints it
};

// The registry says whether the value is there; the settings read it, with
// the text forms and the type check a host gets.
int get(const GetCall& call, Session& session)
{
    const std::wstring subKey = subKeyOf(session, call.subKey);
    const std::wstring name = valueNameOf(call.name);
    const std::optional<DWORD> stored = session.view().typeCode(subKey, name);
    if (!stored) {
        if (!call.shownDefault)
            missingValue(session, subKey, name, ", or give --default");
        writeOutLine(*call.shownDefault);
        return Success;
    }
    VeskSettings& settings = session.settings();
    try {
        if (call.type.row().code == REG_DWORD)
            writeOutLine(std::to_wstring(settings.GetIntValue(toWString(subKey), toWString(name), 0)));
        else if (call.type.name == "bool")
            writeOutLine(settings.GetBoolValue(toWString(subKey), toWString(name), false) ? L"true" : L"false");
        else
            writeOutLine(fromWString(settings.GetStringValue(toWString(subKey), toWString(name), WString())));
    } catch (const VeskSettings::BadKeyTypeError&) {
        wrongType(session, subKey, name, call.type.name, *stored);
    }
    return Success;
}

} // namespace

void defineGet(CLI::App& app, CommandAction& action)
{
    CLI::App* command = addCommand(app, "get", "Print a value",
                                   "When the value is not there, prints --default if given, else exits 1.\n"
                                   "A value stored with another type exits 3, default or not.");
    auto call = std::make_shared<GetCall>();
    command->add_option("SUBKEY", call->subKey, "The key, relative to the instance's")->required();
    command->add_option("NAME", call->name, "The value's name; \"\" is the default value")->required();
    addTypeOption(command, call->type, "How to read the value (default: string)");
    CLI::Option* fallback = command->add_option("--default", call->fallback, "Printed when the value is not there");
    command->callback([call, fallback, &action] {
        if (fallback->count() > 0)
            call->shownDefault = checkedText(call->type, call->fallback, "--default");
        action = [call](Session& session) { return get(*call, session); };
    });
}

namespace {

struct SetCall {
    std::string subKey, name, value;
    TypeOption type;
};

int set(const SetCall& call, Session& session)
{
    const std::wstring subKey = subKeyOf(session, call.subKey);
    const std::wstring name = valueNameOf(call.name);
    const std::wstring text = fromUtf8(call.value);
    VeskSettings& settings = session.settings();
    bool written = false;
    if (call.type.row().code == REG_DWORD)
        written = settings.SetIntValue(toWString(subKey), toWString(name), static_cast<int>(*parseDword(text)));
    else if (call.type.name == "bool")
        written = settings.SetBoolValue(toWString(subKey), toWString(name), *parseBool(text));
    else
        written = settings.SetStringValue(toWString(subKey), toWString(name), toWString(text));
    if (!written)
        storeRefused("write " + quoted(name) + " in " + toUtf8(session.pathOf(subKey)));
    return Success;
}

} // namespace

void defineSet(CLI::App& app, CommandAction& action)
{
    CLI::App* command = addCommand(app, "set", "Write a value, creating the key when needed",
                                   "int: decimal (-2147483648 to 4294967295) or 0x and up to 8 hex digits.\n"
                                   "bool: true/false, 1/0 or yes/no; stored as the text True or False.\n"
                                   "A VALUE that does not fit its type exits 2 and writes nothing.");
    auto call = std::make_shared<SetCall>();
    command->add_option("SUBKEY", call->subKey, "The key, relative to the instance's")->required();
    command->add_option("NAME", call->name, "The value's name; \"\" is the default value")->required();
    command->add_option("VALUE", call->value, "The data, as --type reads it")->required();
    addTypeOption(command, call->type, "How to store VALUE")->required();
    command->callback([call, &action] {
        checkedText(call->type, call->value, "the value");
        action = [call](Session& session) { return set(*call, session); };
    });
}

namespace {

struct DeleteCall {
    std::string subKey, name;
    bool valueNamed = false;
};

int remove(const DeleteCall& call, Session& session)
{
    const std::wstring subKey = subKeyOf(session, call.subKey);
    if (call.valueNamed) {
        const std::wstring name = valueNameOf(call.name);
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

} // namespace

void defineDelete(CLI::App& app, CommandAction& action)
{
    CLI::App* command = addCommand(app, "delete", "Delete a value, or a key and everything below it",
                                   "\"\" as SUBKEY is the instance's own key. Exits 1 when it is not there.");
    auto call = std::make_shared<DeleteCall>();
    command->add_option("SUBKEY", call->subKey, "The key, relative to the instance's")->required();
    CLI::Option* name = command->add_option("NAME", call->name, "The value to delete; without it, the key");
    command->callback([call, name, &action] {
        call->valueNamed = name->count() > 0;
        action = [call](Session& session) { return remove(*call, session); };
    });
}

void defineExists(CLI::App& app, CommandAction& action)
{
    CLI::App* command = addCommand(app, "exists", "Test whether a key exists",
                                   "Exits 0 when the key SUBKEY exists, 1 when it does not.");
    auto subKey = std::make_shared<std::string>();
    command->add_option("SUBKEY", *subKey, "The key, relative to the instance's")->required();
    command->callback([subKey, &action] {
        action = [subKey](Session& session) {
            const std::wstring key = subKeyOf(session, *subKey);
            if (!session.view().keyExists(key))
                missingKey(session, key);
            return int(Success);
        };
    });
}

void defineLoggingPath(CLI::App& app, CommandAction& action)
{
    CLI::App* command = addCommand(app, "logging-path", "Print the logging path set for the product",
                                   "Exits 1 when none is set.");
    command->callback([&action] {
        action = [](Session& session) {
            const std::wstring path = fromWString(session.settings().GetLoggingPath());
            if (path.empty())
                throw Failure(NotFound, "no logging path is set: set the value loggingPath of " +
                                            toUtf8(Kestlib500::FullKeyPath(LoggingRegistry().GetPath())));
            writeOutLine(path);
            return int(Success);
        };
    });
}

namespace {

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

struct ListCall {
    std::string subKey;
    bool recursive = false;
};

int list(const ListCall& call, Session& session)
{
    const std::wstring subKey = subKeyOf(session, call.subKey);
    if (!session.view().keyExists(subKey))
        missingKey(session, subKey);
    listKey(session, subKey, session.view().list(subKey), call.recursive);
    return Success;
}

} // namespace

void defineList(CLI::App& app, CommandAction& action)
{
    CLI::App* command = addCommand(app, "list", "Show a key's values and sub-keys",
                                   "Prints the key's full path, its values (name, then data; @ is the\n"
                                   "default value) and its sub-keys; with --recursive the whole subtree.\n"
                                   "Exits 1 when the key is not there.");
    auto call = std::make_shared<ListCall>();
    command->add_option("SUBKEY", call->subKey, "The key, relative to the instance's (default: the instance's)");
    command->add_flag("--recursive", call->recursive, "The whole subtree");
    command->callback([call, &action] { action = [call](Session& session) { return list(*call, session); }; });
}

} // namespace vesk_tool

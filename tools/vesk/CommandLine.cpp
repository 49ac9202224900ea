#include "CommandLine.h"

#include "Failure.h"
#include "Text.h"
#include "ValueSyntax.h"

#include "support/registry/KeyPath.h"
#include "vesk/Version.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <memory>

namespace vesk_tool {
namespace {

struct CommandSpec {
    const wchar_t* name;
    std::size_t minOperands;
    std::size_t maxOperands;
    std::vector<std::wstring> options; // besides --instance and --help
    const char* help;
};

// Options that take a value; the flags are --recursive and --help.
const std::vector<std::wstring> ValuedOptions = {L"--instance", L"--type", L"--default", L"--output", L"--encoding", L"--from-instance"};

const std::vector<CommandSpec>& commands()
{
    static const std::vector<CommandSpec> table = {
        {L"get", 2, 2, {L"--type", L"--default"},
         "usage: vesk [--instance NAME] get SUBKEY NAME [--type int|string|bool] [--default VALUE]\n"
         "Prints the value NAME of SUBKEY, read as --type (string when not given).\n"
         "When the value is not there, prints --default if given, else exits 1.\n"
         "A value stored with another type exits 3, default or not.\n"},
        {L"set", 3, 3, {L"--type"},
         "usage: vesk [--instance NAME] set SUBKEY NAME VALUE --type int|string|bool\n"
         "Writes VALUE as NAME in SUBKEY, creating the key when needed.\n"
         "int: decimal (-2147483648 to 4294967295) or 0x and up to 8 hex digits.\n"
         "bool: true/false, 1/0 or yes/no; stored as the text True or False.\n"
         "A VALUE that does not fit its type exits 2 and writes nothing.\n"},
        {L"list", 0, 1, {L"--recursive"},
         "usage: vesk [--instance NAME] list [SUBKEY] [--recursive]\n"
         "Prints the key's full path, its values (name, then data; @ is the\n"
         "default value) and its sub-keys; with --recursive the whole subtree.\n"
         "Exits 1 when the key is not there.\n"},
        {L"delete", 1, 2, {},
         "usage: vesk [--instance NAME] delete SUBKEY [NAME]\n"
         "Deletes the value NAME of SUBKEY, or without NAME the key SUBKEY and\n"
         "everything below it. \"\" as SUBKEY is the instance's own key.\n"
         "Exits 1 when it is not there.\n"},
        {L"exists", 1, 1, {},
         "usage: vesk [--instance NAME] exists SUBKEY\n"
         "Exits 0 when the key SUBKEY exists, 1 when it does not.\n"},
        {L"logging-path", 0, 0, {},
         "usage: vesk logging-path\n"
         "Prints the logging path set for the product; exits 1 when none is set.\n"},
        {L"export", 0, 1, {L"--output", L"--encoding"},
         "usage: vesk [--instance NAME] export [SUBKEY] [--output FILE] [--encoding utf8|utf16]\n"
         "Writes the key (the instance's key without SUBKEY) and its subtree as a\n"
         "registry editor file (\"Windows Registry Editor Version 5.00\") to FILE,\n"
         "or to standard output, every value type as its bytes. Encoding: UTF-16LE\n"
         "with a byte-order mark and CRLF, as the registry editor writes; UTF-8\n"
         "with LF with --encoding utf8. A value or key whose name holds a line\n"
         "break cannot be written, nor string data lacking its final NUL (in\n"
         "UTF-8 also of odd length or with a lone surrogate): each is left out\n"
         "with a warning, and the command then exits 3.\n"},
        {L"import", 1, 1, {L"--from-instance"},
         "usage: vesk [--instance NAME] import FILE [--from-instance OTHER]\n"
         "Applies a registry editor file, read as the registry's own tools read it.\n"
         "Header \"Windows Registry Editor Version 5.00\" or \"REGEDIT4\". Encoding:\n"
         "UTF-16LE or UTF-8 after a byte-order mark; without one, 8-bit text, taken\n"
         "as UTF-8 when the bytes are valid UTF-8, otherwise as Windows-1252.\n"
         "Lines: [key], [-key], \"name\"=\"text\" (\\\\ \\\" \\n \\r escapes),\n"
         "\"name\"=dword:xxxxxxxx, \"name\"=hex:01,02 or hex(N):.. (continued by a\n"
         "trailing \\), \"name\"=- to delete; @ is the default value; ; and #\n"
         "start comments.\n"
         "Every key must lie in the instance's key; --from-instance OTHER reads\n"
         "keys of instance OTHER in the file as this instance's, to copy settings.\n"
         "The whole file is checked first: a line the registry tools would skip\n"
         "as malformed, or any other error, exits 2 with its line number and\n"
         "nothing is written.\n"},
    };
    return table;
}

const char* ToolHelp =
    "usage: vesk [--instance NAME] COMMAND [ARGS] [--help]\n"
    "Reads and writes the product's settings with the library's own settings\n"
    "and registry code, built in: what it prints is what a host reads.\n"
    "\n"
    "commands:\n"
    "  get SUBKEY NAME [--type T] [--default V]   print a value\n"
    "  set SUBKEY NAME VALUE --type T             write a value (T: int|string|bool)\n"
    "  list [SUBKEY] [--recursive]                show values and sub-keys\n"
    "  delete SUBKEY [NAME]                       delete a value or a key\n"
    "  exists SUBKEY                              test whether a key exists\n"
    "  logging-path                               print the logging path\n"
    "  export [SUBKEY] [--output FILE]            write a .reg file\n"
    "  import FILE                                apply a .reg file\n"
    "  fleet push|pull|status|watch|history|rollback|gc|hosts   keep the instance\n"
    "                                             in step with the fleet's state in etcd\n"
    "\n"
    "--instance NAME selects the server instance (default: the library's).\n"
    "SUBKEY is relative to the instance's key, e.g. Network\\Ports.\n"
    "Arguments are taken as UTF-8 on Linux; output is UTF-8 on both platforms.\n"
    "Linux keeps the settings in $KESTLIB_REGISTRY, else\n"
    "$XDG_DATA_HOME/halvorn/registry.db, else ~/.local/share/halvorn/registry.db.\n"
    "\n"
    "exit status: 0 done, 1 not there, 2 usage or input error,\n"
    "3 stored value of another type, 4 the registry or its store failed.\n"
    "Run 'vesk COMMAND --help' for a command's details; 'vesk --version'\n"
    "prints the version.\n";

const CommandSpec* findCommand(const std::wstring& name)
{
    for (const CommandSpec& spec : commands())
        if (name == spec.name)
            return &spec;
    return nullptr;
}

bool contains(const std::vector<std::wstring>& list, const std::wstring& item)
{
    return std::find(list.begin(), list.end(), item) != list.end();
}

[[noreturn]] void usage(const std::string& message, const std::wstring& command)
{
    const std::string more = command.empty() ? "vesk --help" : "vesk " + toUtf8(command) + " --help";
    throw Failure(BadInput, message + " (see '" + more + "')");
}

void checkChoice(const Invocation& call, const std::wstring& option, const std::vector<std::wstring>& choices)
{
    if (!call.has(option) || contains(choices, call.option(option)))
        return;
    std::string listed;
    for (const std::wstring& choice : choices)
        listed += (listed.empty() ? "" : "|") + toUtf8(choice);
    usage(toUtf8(option) + " must be " + listed + ", not '" + toUtf8(call.option(option)) + "'", call.command);
}

// An int or bool given on the command line must parse before anything runs.
void checkTyped(const Invocation& call, const std::wstring& text, const std::string& what)
{
    const std::wstring type = call.option(L"--type", L"string");
    if (type == L"int" && !parseDword(text))
        usage(what + " '" + toUtf8(text) + "' is not a 32-bit int: use decimal or 0x hex", call.command);
    if (type == L"bool" && !parseBool(text))
        usage(what + " '" + toUtf8(text) + "' is not a bool: use true/false, 1/0 or yes/no", call.command);
}

void checkCommand(const Invocation& call, const CommandSpec& spec)
{
    if (call.operands.size() < spec.minOperands || call.operands.size() > spec.maxOperands)
        usage("wrong number of arguments for " + toUtf8(call.command), call.command);
    checkChoice(call, L"--type", {L"int", L"string", L"bool"});
    checkChoice(call, L"--encoding", {L"utf8", L"utf16"});
    if (call.command == L"set") {
        if (!call.has(L"--type"))
            usage("set needs --type int, string or bool", call.command);
        checkTyped(call, call.operands[2], "the value");
    }
    if (call.has(L"--default"))
        checkTyped(call, call.option(L"--default"), "--default");
}

// One key name: not empty, no backslash, within the registry's limit.
void checkInstanceName(const std::wstring& instance)
{
    const std::string shown = "--instance '" + toUtf8(instance) + "': ";
    if (instance.empty())
        throw Failure(BadInput, shown + "an instance needs a name; leave --instance out for the default instance");
    if (instance.find(L'\\') != std::wstring::npos)
        throw Failure(BadInput, shown + "an instance is one key name, without backslashes");
    if (instance.size() > Kestlib500::MaxKeyNameLength)
        throw Failure(BadInput, shown + Kestlib500::DescribeKeyPathProblem(Kestlib500::KeyPathProblem::ElementTooLong));
}

std::wstring lastResult(const CLI::Option& option)
{
    const std::vector<std::string>& given = option.results();
    return given.empty() ? std::wstring() : fromUtf8(given.back());
}

// One command of the table as a CLI11 sub-command; when it is the one given,
// its callback copies what was parsed into `call`.
void addCommand(CLI::App& app, const CommandSpec& spec, Invocation& call)
{
    CLI::App* command = app.add_subcommand(toUtf8(spec.name));
    command->set_help_flag(); // the tool prints its own help texts
    command->fallthrough();   // --instance may follow the command
    auto operands = std::make_shared<std::vector<std::string>>();
    command->add_option("operands", *operands)->expected(0, CLI::detail::expected_max_vector_size);
    std::vector<std::pair<std::wstring, CLI::Option*>> options;
    options.emplace_back(L"--help", command->add_flag("-h,--help")->disable_flag_override());
    for (const std::wstring& name : spec.options) {
        CLI::Option* option = contains(ValuedOptions, name) ? command->add_option(toUtf8(name))
                                                            : command->add_flag(toUtf8(name))->disable_flag_override();
        options.emplace_back(name, option->multi_option_policy(CLI::MultiOptionPolicy::TakeLast));
    }
    command->callback([&call, &spec, operands, options] {
        call.command = spec.name;
        for (const std::string& operand : *operands)
            call.operands.push_back(fromUtf8(operand));
        for (const auto& [name, option] : options)
            if (option->count() > 0)
                call.options[name] = lastResult(*option);
    });
}

// Everything after the first "--" that is not an option's value: operands,
// kept from CLI11, which would hand them to the tool instead of the command.
std::vector<std::string> splitOperands(std::vector<std::string>& args)
{
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--") {
            std::vector<std::string> tail(args.begin() + static_cast<std::ptrdiff_t>(i) + 1, args.end());
            args.resize(i);
            return tail;
        }
        if (contains(ValuedOptions, fromUtf8(args[i])))
            ++i;
    }
    return {};
}

} // namespace

std::wstring Invocation::option(const std::wstring& name, const std::wstring& fallback) const
{
    const auto found = options.find(name);
    return found == options.end() ? fallback : found->second;
}

void addSettingsCommands(CLI::App& app, Invocation& call)
{
    for (const CommandSpec& spec : commands())
        addCommand(app, spec, call);
}

Invocation parseCommandLine(const std::vector<std::wstring>& args, const CommandGroup& more)
{
    Invocation call;
    CLI::App app("vesk", "vesk");
    app.set_help_flag();
    // One command; after it, a word that names another is an operand.
    app.require_subcommand(0, 1);
    CLI::Option* help = app.add_flag("-h,--help")->disable_flag_override();
    app.set_version_flag("--version", VESK_VERSION);
    CLI::Option* instance = app.add_option("--instance")->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
    addSettingsCommands(app, call);
    if (more)
        more(app, call);

    std::vector<std::string> words;
    for (const std::wstring& arg : args)
        words.push_back(toUtf8(arg));
    const std::vector<std::string> tail = splitOperands(words);
    std::reverse(words.begin(), words.end()); // CLI11 takes them last first
    try {
        app.parse(words);
    } catch (const CLI::CallForVersion&) {
        call.version = true;
        return call;
    } catch (const CLI::ParseError& error) {
        if (app.get_subcommands().empty() && !app.remaining().empty())
            usage("unknown command '" + app.remaining().front() + "'", std::wstring());
        const std::vector<CLI::App*> given = app.get_subcommands();
        usage(error.what(), given.empty() ? std::wstring() : fromUtf8(given.front()->get_name()));
    }
    for (const std::string& operand : tail)
        call.operands.push_back(fromUtf8(operand));
    call.help = call.has(L"--help") || help->count() > 0;
    call.options.erase(L"--help");
    if (instance->count() > 0)
        call.options[L"--instance"] = lastResult(*instance);

    if (call.command.empty()) {
        if (!tail.empty())
            usage("unknown command '" + tail.front() + "'", std::wstring());
        if (!call.help)
            usage("no command given", std::wstring());
    }
    if (call.help)
        return call;
    if (call.has(L"--instance"))
        checkInstanceName(call.option(L"--instance"));
    if (const CommandSpec* spec = findCommand(call.command))
        checkCommand(call, *spec);
    return call;
}

std::string versionText()
{
    return "vesk " VESK_VERSION "\n";
}

std::string helpText(const std::wstring& command)
{
    const CommandSpec* spec = findCommand(command);
    return spec ? spec->help : ToolHelp;
}

} // namespace vesk_tool

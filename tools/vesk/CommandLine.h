#pragma once

#include <functional>
#include <map>
#include <string>
#include <vector>

namespace CLI {
class App;
}

// The tool's command line, parsed by CLI11: a command, its operands and
// --options, checked against what each command accepts before anything is
// read or written.
namespace vesk_tool {

struct Invocation {
    std::wstring command; // empty when only --help was asked for
    std::vector<std::wstring> operands;
    std::map<std::wstring, std::wstring> options; // "--type" -> "int"; flags map to ""
    bool help = false;
    bool version = false; // --version: print versionText() and nothing else

    bool has(const std::wstring& option) const { return options.count(option) != 0; }
    // The option's value, or `fallback` when it was not given.
    std::wstring option(const std::wstring& name, const std::wstring& fallback = std::wstring()) const;
};

// Options may stand anywhere, as --name VALUE or --name=VALUE (the last one
// given counts); "--" ends them, so operands may begin with dashes. Throws
// Failure(BadInput) for anything a command would refuse: unknown names,
// operand counts, a --type or --encoding outside its choices, an int or bool
// that does not parse, an --instance that is not one key name.
// `more` adds a group of commands of its own (the fleet's) to the parser.
using CommandGroup = std::function<void(CLI::App&, Invocation&)>;
Invocation parseCommandLine(const std::vector<std::wstring>& args, const CommandGroup& more = {});

// The tool's help for an empty command, else the command's own.
std::string helpText(const std::wstring& command);

// "vesk 1.2.3": the first line help2man and operators read as the version.
std::string versionText();

// A group of commands joins the command line through one such function: it
// adds its sub-commands to `app`, each filling `call` when it is the one
// given. Help and exit statuses stay the tool's.
void addSettingsCommands(CLI::App& app, Invocation& call);

} // namespace vesk_tool

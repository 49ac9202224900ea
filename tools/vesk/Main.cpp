#include "CommandLine.h"
#include "Failure.h"
#include "Io.h"
#include "Journal.h"
#include "Library.h"
#include "Session.h"
#include "Text.h"

#include <clocale>
#include <cstdio>
#include <vector>

namespace vesk_tool {
namespace {

int run(const std::vector<std::wstring>& args)
{
    try {
        const Invocation call = parseCommandLine(args);
        if (call.help) {
            writeOut(helpText(call.command));
            return Success;
        }
        Library library;
        VeskSettings& settings = library.settings();
        if (call.has(L"--instance"))
            settings.SetInstanceName(toWString(call.option(L"--instance")));
        Session session(settings, library.serverKey());
        recoverInterruptedImport(session.rootOf(L""));
        return runCommand(call, session);
    } catch (const Failure& failure) {
        writeErrLine(std::string("vesk: ") + failure.what());
        return failure.code();
    } catch (const VeskSettings::BadKeyTypeError&) {
        writeErrLine("vesk: a stored value has another type than the command reads: see 'vesk list'");
        return WrongType;
    } catch (const std::exception& error) {
        writeErrLine(std::string("vesk: unexpected failure: ") + error.what() + "; please report it");
        return StoreFailure;
    }
}

int finish(int status)
{
    if (std::fflush(stdout) != 0 && status == Success) {
        writeErrLine("vesk: cannot write to standard output");
        return StoreFailure;
    }
    return status;
}

} // namespace
} // namespace vesk_tool

#if defined(_WIN32)

int wmain(int argc, wchar_t** argv)
{
    vesk_tool::prepareConsole();
    return vesk_tool::finish(vesk_tool::run(std::vector<std::wstring>(argv + 1, argv + argc)));
}

#else

// Arguments are taken as UTF-8 whatever the locale, as the store keeps text.
int main(int argc, char** argv)
{
    std::setlocale(LC_CTYPE, "C.UTF-8"); // case folding beyond ASCII
    std::vector<std::wstring> args;
    try {
        for (int i = 1; i < argc; ++i)
            args.push_back(vesk_tool::fromUtf8(argv[i]));
    } catch (const vesk_tool::DecodeError&) {
        vesk_tool::writeErrLine("vesk: the arguments are not UTF-8: pass names and values as UTF-8");
        return vesk_tool::BadInput;
    }
    return vesk_tool::finish(vesk_tool::run(args));
}

#endif

#include "tools/vesk/Transfer.h"

#include "tools/vesk/Failure.h"
#include "tools/vesk/ImportPlan.h"
#include "tools/vesk/Io.h"
#include "tools/vesk/Progress.h"
#include "tools/vesk/RegFile.h"
#include "tools/vesk/Session.h"
#include "tools/vesk/Text.h"
#include "tools/vesk/TreeReader.h"
#include "tools/vesk/WholeImport.h"
#include "support/registry/RegistryKey.h"
#include "support/registry/RegistryTransaction.h"

#include <optional>

namespace vesk_tool {
namespace {

using Kestlib500::RegistrySnapshot;

// Only a regular file is replaced whole; an export over the store would
// destroy every setting it holds.
void checkOutput(const std::wstring& output)
{
    if (!isRegularOrMissing(output))
        throw Failure(BadInput, "--output " + toUtf8(output) +
                                    " is not a regular file: export writes files whole by replacing them; send the "
                                    "export to a device through standard output instead");
    // The system's registry on Windows is no file an export could name.
    const std::string storeFile = Kestlib500::RegistryKey::StoreFile();
    if (storeFile.empty())
        return;
    const std::wstring store = fromUtf8(storeFile);
    for (const std::wstring& file : {store, store + L"-wal", store + L"-shm", store + L"-journal"})
        if (sameFile(output, file))
            throw Failure(BadInput, toUtf8(output) + " is the registry store itself (" + toUtf8(file) +
                                        "): export to another file");
}

// The tree below `key`, read as one state of the store.
RegDocument readTree(const std::wstring& key, const std::string& shown, std::vector<std::string>& leftOut)
{
    Progress progress("exporting", 0, errIsTerminal());
    TreeReader reader(progress);
    RegDocument document;
    bool found = false;
    try {
        RegistrySnapshot snapshot;
        found = reader.read(key, document);
    } catch (const std::exception& error) {
        throw Failure(StoreFailure, std::string("cannot read the settings: ") + error.what());
    }
    if (!found)
        throw Failure(NotFound, "no key " + shown + ": check the name with 'vesk list'");
    leftOut = reader.leftOut();
    return document;
}

// Values whose data would read back otherwise go, each with a warning.
void leaveOutUncarried(RegDocument& document, RegEncoding encoding, std::vector<std::string>& leftOut)
{
    for (RegKey& key : document.keys) {
        std::vector<RegValue> kept;
        for (RegValue& value : key.values) {
            if (canWriteValue(value.value, encoding)) {
                kept.push_back(std::move(value));
                continue;
            }
            leftOut.push_back("value \"" + toUtf8(value.name) + "\" of " + toUtf8(key.path) + " holds string data " +
                              (encoding == RegEncoding::Utf8 ? "a UTF-8 .reg file" : "a .reg file") +
                              " cannot carry (no final NUL, odd length or a lone surrogate)" +
                              (encoding == RegEncoding::Utf8 ? "; export in UTF-16 to carry more" : ""));
        }
        key.values = std::move(kept);
    }
}

} // namespace

int exportCommand(const Invocation& call, Session& session)
{
    keepRunningPastFileSizeLimit();
    const std::wstring subKey = call.operands.empty() ? std::wstring() : call.operands[0];
    const bool toFile = call.has(L"--output");
    const std::wstring encoding = call.option(L"--encoding");
    // What the registry editor writes, on both builds, so its import reads it.
    const RegEncoding chosen = encoding == L"utf8" ? RegEncoding::Utf8 : RegEncoding::Utf16;
    std::vector<std::string> leftOut;
    RegDocument document = readTree(session.keyPath(subKey), toUtf8(session.pathOf(subKey)), leftOut);
    leaveOutUncarried(document, chosen, leftOut);
    // After the read, which makes the store when there was none yet.
    if (toFile)
        checkOutput(call.option(L"--output"));
    for (const std::string& why : leftOut)
        writeErrLine("vesk: warning: " + why + "; left out");

    const std::string bytes = writeRegFile(document, chosen);
    if (toFile) {
        replaceFile(call.option(L"--output"), bytes);
    } else {
        writeOut(bytes);
        flushOut();
    }
    if (!leftOut.empty())
        throw Failure(WrongType, std::to_string(leftOut.size()) +
                                     " entries left out, see the warnings above: a .reg file cannot carry them as they are");
    return Success;
}

int importCommand(const Invocation& call, Session& session)
{
    keepRunningPastFileSizeLimit();
    const std::wstring& file = call.operands[0];
    const std::wstring source = call.has(L"--from-instance") ? call.option(L"--from-instance") : session.instance();
    const std::wstring root = session.keyPath(L"");
    std::vector<ImportStep> steps;
    try {
        // The key of every instance together is never deleted whole.
        steps = planImport(readRegFile(readFile(file)), session.rootOf(source), root, !session.instance().empty());
    } catch (const RegFileError& error) {
        throw Failure(BadInput, toUtf8(file) + ":" + std::to_string(error.line) + ": " + error.what() + "; nothing was imported");
    }

    Progress progress("importing", steps.size(), errIsTerminal());
    applyWhole(file, steps, root, progress);
    return Success;
}

} // namespace vesk_tool

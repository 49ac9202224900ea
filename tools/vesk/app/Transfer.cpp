#include "tools/vesk/app/CommandLine.h"
#include "tools/vesk/app/Session.h"
#include "tools/vesk/core/Failure.h"
#include "tools/vesk/core/ImportPlan.h"
#include "tools/vesk/core/Io.h"
#include "tools/vesk/core/Progress.h"
#include "tools/vesk/core/RegFile.h"
#include "tools/vesk/core/Text.h"
#include "tools/vesk/core/TreeReader.h"
#include "tools/vesk/core/WholeImport.h"
#include "support/registry/RegistryKey.h"
#include "support/registry/RegistryTransaction.h"

#include <CLI/CLI.hpp>

#include <memory>
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

// Each value written as the walk reaches it, unless its data would read
// back otherwise: that one goes, with a warning.
class ExportVisitor : public TreeVisitor {
public:
    ExportVisitor(RegFileWriter& writer, RegEncoding encoding, std::vector<std::string>& leftOut)
        : writer(writer), encoding(encoding), leftOut(leftOut)
    {
    }
    void key(const std::wstring& path) override
    {
        current = &path;
        writer.key(path);
    }
    void value(const RegValue& value) override
    {
        if (canWriteValue(value.value, encoding)) {
            writer.value(value);
            return;
        }
        leftOut.push_back("value \"" + toUtf8(value.name) + "\" of " + toUtf8(*current) + " holds string data " +
                          (encoding == RegEncoding::Utf8 ? "a UTF-8 .reg file" : "a .reg file") +
                          " cannot carry (no final NUL, odd length or a lone surrogate)" +
                          (encoding == RegEncoding::Utf8 ? "; export in UTF-16 to carry more" : ""));
    }

private:
    RegFileWriter& writer;
    RegEncoding encoding;
    std::vector<std::string>& leftOut;
    const std::wstring* current = nullptr; // the path of the key being walked
};

// The export's destination: a file replaced whole, or standard output.
class ExportSink : public ByteSink {
public:
    explicit ExportSink(FileReplacement* file) : file(file) {}
    void write(std::string_view bytes) override
    {
        if (file)
            file->write(bytes);
        else
            writeOut(bytes);
    }
    // Every byte in place: the file committed, or the output flushed.
    void finish()
    {
        if (file)
            file->commit();
        else
            flushOut();
    }

private:
    FileReplacement* file;
};

// The tree below `key`, as one state of the store, written to `sink` as it
// is read; whatever the file cannot carry is left out into `leftOut`.
void writeTree(const std::wstring& key, ByteSink& sink, RegEncoding encoding, std::vector<std::string>& leftOut)
{
    Progress progress("exporting", 0, errIsTerminal());
    TreeReader reader(progress);
    RegFileWriter writer(sink, encoding);
    ExportVisitor visitor(writer, encoding, leftOut);
    try {
        if (!reader.walk(key, visitor))
            return;
        writer.finish();
    } catch (const Failure&) {
        throw;
    } catch (const std::exception& error) {
        throw Failure(StoreFailure, std::string("cannot read the settings: ") + error.what());
    }
    leftOut.insert(leftOut.begin(), reader.leftOut().begin(), reader.leftOut().end());
}

struct ExportCall {
    std::string subKey;
    std::string output; // empty: standard output
    std::string encoding = "utf16";
};

int exportTree(const ExportCall& call, Session& session)
{
    keepRunningPastFileSizeLimit();
    const std::wstring subKey = fromUtf8(call.subKey);
    session.checkSubKey(subKey);
    const std::wstring output = fromUtf8(call.output);
    // What the registry editor writes, on both builds, so its import reads it.
    const RegEncoding chosen = call.encoding == "utf8" ? RegEncoding::Utf8 : RegEncoding::Utf16;
    const std::wstring key = session.keyPath(subKey);
    const std::string shown = toUtf8(session.pathOf(subKey));
    std::vector<std::string> leftOut;
    {
        // One state of the store for the whole walk; opening it first makes
        // the store when there was none, before the output is checked against it.
        std::optional<RegistrySnapshot> snapshot;
        std::optional<FileReplacement> file;
        try {
            snapshot.emplace();
            if (!Kestlib500::RegistryKey::Open(key).IsOpen())
                throw Failure(NotFound, "no key " + shown + ": check the name with 'vesk list'");
        } catch (const Failure&) {
            throw;
        } catch (const std::exception& error) {
            throw Failure(StoreFailure, std::string("cannot read the settings: ") + error.what());
        }
        if (!output.empty()) {
            checkOutput(output);
            file.emplace(output);
        }
        ExportSink sink(file ? &*file : nullptr);
        writeTree(key, sink, chosen, leftOut);
        sink.finish();
    }
    for (const std::string& why : leftOut)
        writeErrLine("vesk: warning: " + why + "; left out");
    if (!leftOut.empty())
        throw Failure(WrongType, std::to_string(leftOut.size()) +
                                     " entries left out, see the warnings above: a .reg file cannot carry them as they are");
    return Success;
}

struct ImportCall {
    std::string file;
    std::string fromInstance;
    bool fromOther = false;
};

int importFile(const ImportCall& call, Session& session)
{
    keepRunningPastFileSizeLimit();
    const std::wstring file = fromUtf8(call.file);
    const std::wstring source = call.fromOther ? fromUtf8(call.fromInstance) : session.instance();
    const std::wstring root = session.keyPath(L"");
    try {
        // Read once, on the first pass, which checks the whole file; the
        // steps are kept packed for the second, never as a document.
        // The key of every instance together is never deleted whole.
        const StepWalk steps =
            planWalk(RegText(readFile(file)), session.rootOf(source), root, !session.instance().empty());
        Progress progress("importing", 0, errIsTerminal());
        applyWhole(file, steps, root, progress);
    } catch (const RegFileError& error) {
        throw Failure(BadInput, call.file + ":" + std::to_string(error.line) + ": " + error.what() + "; nothing was imported");
    }
    return Success;
}

} // namespace

void defineExport(CLI::App& app, CommandAction& action)
{
    CLI::App* command = addCommand(
        app, "export", "Write a key and its subtree as a .reg file",
        "Writes the key (the instance's key without SUBKEY) and its subtree as a\n"
        "registry editor file (\"Windows Registry Editor Version 5.00\") to FILE,\n"
        "or to standard output, every value type as its bytes. Encoding: UTF-16LE\n"
        "with a byte-order mark and CRLF, as the registry editor writes; UTF-8\n"
        "with LF with --encoding utf8. A value or key whose name holds a line\n"
        "break cannot be written, nor string data lacking its final NUL (in\n"
        "UTF-8 also of odd length or with a lone surrogate): each is left out\n"
        "with a warning, and the command then exits 3.");
    auto call = std::make_shared<ExportCall>();
    command->add_option("SUBKEY", call->subKey, "The key, relative to the instance's (default: the instance's)");
    command->add_option("--output", call->output, "The file to write (default: standard output)");
    command->add_option("--encoding", call->encoding, "utf16 (default) or utf8")
        ->check(CLI::IsMember({"utf8", "utf16"}));
    command->callback([call, &action] { action = [call](Session& session) { return exportTree(*call, session); }; });
}

void defineImport(CLI::App& app, CommandAction& action)
{
    CLI::App* command = addCommand(
        app, "import", "Apply a .reg file, whole or not at all",
        "Reads the file as the registry's own tools read it.\n"
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
        "nothing is written.");
    auto call = std::make_shared<ImportCall>();
    command->add_option("FILE", call->file, "The .reg file")->required();
    CLI::Option* from = command->add_option("--from-instance", call->fromInstance,
                                            "Read keys of instance OTHER in the file as this instance's");
    command->callback([call, from, &action] {
        call->fromOther = from->count() > 0;
        action = [call](Session& session) { return importFile(*call, session); };
    });
}

} // namespace vesk_tool

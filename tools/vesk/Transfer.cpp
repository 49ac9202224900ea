#include "Failure.h"
#include "ImportPlan.h"
#include "Io.h"
#include "Progress.h"
#include "RegFile.h"
#include "Session.h"
#include "Text.h"
#include "TreeReader.h"
#include "WholeImport.h"
#include "support/registry/RegistryKey.h"
#include "support/registry/RegistryTransaction.h"

#include <optional>

#if !defined(_WIN32)
#include "support/sqlite/RegistryStore.h"
#endif

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
#if !defined(_WIN32)
    const std::wstring store = fromUtf8(Kestlib500::RegistryStore::FilePath());
    for (const std::wstring& file : {store, store + L"-wal", store + L"-shm", store + L"-journal"})
        if (sameFile(output, file))
            throw Failure(BadInput, toUtf8(output) + " is the registry store itself (" + toUtf8(file) +
                                        "): export to another file");
#else
    (void)output;
#endif
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

} // namespace

int exportCommand(const Invocation& call, Session& session)
{
    keepRunningPastFileSizeLimit();
    const std::wstring subKey = call.operands.empty() ? std::wstring() : call.operands[0];
    const bool toFile = call.has(L"--output");
    const std::wstring encoding = call.option(L"--encoding");
    // What the registry editor writes, on both builds, so its import reads it.
    const RegEncoding chosen = encoding == L"utf8" ? RegEncoding::Utf8 : RegEncoding::Utf16;
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
        if (toFile) {
            checkOutput(call.option(L"--output"));
            file.emplace(call.option(L"--output"));
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

int importCommand(const Invocation& call, Session& session)
{
    keepRunningPastFileSizeLimit();
    const std::wstring& file = call.operands[0];
    const std::wstring source = call.has(L"--from-instance") ? call.option(L"--from-instance") : session.instance();
    const std::wstring root = session.keyPath(L"");
    std::vector<ImportStep> steps;
    try {
        // The file's bytes go before the plan is made, the document's values as it is made.
        RegDocument document = readRegFile(readFile(file));
        // The key of every instance together is never deleted whole.
        steps = planImport(std::move(document), session.rootOf(source), root, !session.instance().empty());
    } catch (const RegFileError& error) {
        throw Failure(BadInput, toUtf8(file) + ":" + std::to_string(error.line) + ": " + error.what() + "; nothing was imported");
    }

    Progress progress("importing", steps.size(), errIsTerminal());
    applyWhole(file, steps, root, progress);
    return Success;
}

} // namespace vesk_tool

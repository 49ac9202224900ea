#include "tools/vesk/core/ImportPlan.h"

#include "tools/vesk/core/StepStore.h"
#include "tools/vesk/core/Text.h"
#include "support/registry/KeyPath.h"
#include "support/registry/NameFold.h"

#include <algorithm>
#include <memory>
#include <optional>
#include <utility>

namespace vesk_tool {
namespace {

// The key below the hive that the file's [path] writes.
std::wstring keyOf(const RegKey& key, const std::wstring& from, const std::wstring& fromPath, const std::wstring& to)
{
    std::wstring below;
    if (!Kestlib500::BelowHive(key.path, below) || !Kestlib500::IsAtOrBelow(below, from))
        throw RegFileError(key.line, "the key " + toUtf8(key.path) + " is outside " + toUtf8(fromPath) +
                                         ": import only keys of this instance (see --instance and --from-instance)");
    const std::wstring rest = below.substr(std::min(below.size(), from.size() + (from.empty() ? 0 : 1)));
    const std::wstring written = Kestlib500::JoinKeyPath(to, rest);
    const Kestlib500::KeyPathProblem problem = Kestlib500::CheckKeyPath(written);
    if (problem != Kestlib500::KeyPathProblem::None)
        throw RegFileError(key.line, Kestlib500::DescribeKeyPathProblem(problem) + ": " +
                                         toUtf8(key.path.substr(0, 200)) + (key.path.size() > 200 ? "..." : ""));
    return written;
}

// Each key and value of a document as the step it makes, through one step
// whose key path is written once per key, not copied into every value's.
class Planner : public RegVisitor {
public:
    Planner(const std::wstring& fromPath, const std::wstring& toKey, bool mayDeleteRoot,
            const std::function<void(const ImportStep&)>& visit)
        : from(belowHive(fromPath)), fromPath(fromPath), toKey(toKey), mayDeleteRoot(mayDeleteRoot), visit(visit)
    {
    }

    void key(RegKey& key) override
    {
        step.line = key.line;
        step.key = keyOf(key, from, fromPath, toKey);
        if (key.remove && !mayDeleteRoot && Kestlib500::FoldedPath(step.key) == Kestlib500::FoldedPath(toKey))
            throw RegFileError(key.line, "this line would delete the settings of every instance: import into one "
                                         "instance with --instance NAME");
        step.action = key.remove ? ImportStep::Action::DeleteKey : ImportStep::Action::CreateKey;
        step.name.clear();
        step.value.type = REG_NONE;
        step.value.data.clear(); // its buffer kept for the next value
        visit(step);
    }

    void value(RegValue& value) override
    {
        if (!Kestlib500::ValueNameFits(value.name.c_str()))
            throw RegFileError(value.line, Kestlib500::DescribeLongValueName(value.name));
        step.action = value.remove ? ImportStep::Action::DeleteValue : ImportStep::Action::SetValue;
        step.line = value.line;
        // Swapped, not moved: both sides keep a buffer for the next value.
        step.name.swap(value.name);
        std::swap(step.value, value.value);
        visit(step);
    }

private:
    const std::wstring from;
    const std::wstring& fromPath;
    const std::wstring& toKey;
    const bool mayDeleteRoot;
    const std::function<void(const ImportStep&)>& visit;
    ImportStep step;
};

} // namespace

std::wstring belowHive(const std::wstring& fullPath)
{
    std::wstring below;
    return Kestlib500::BelowHive(fullPath, below) ? below : fullPath;
}

std::vector<ImportStep> planImport(const RegDocument& document, const std::wstring& fromPath, const std::wstring& toKey,
                                   bool mayDeleteRoot)
{
    return planImport(RegDocument(document), fromPath, toKey, mayDeleteRoot);
}

std::vector<ImportStep> planImport(RegDocument&& document, const std::wstring& fromPath, const std::wstring& toKey,
                                   bool mayDeleteRoot)
{
    std::vector<ImportStep> steps;
    std::size_t count = 0;
    for (const RegKey& key : document.keys)
        count += 1 + key.values.size();
    steps.reserve(count);
    const std::function<void(const ImportStep&)> keep = [&](const ImportStep& step) { steps.push_back(step); };
    Planner planner(fromPath, toKey, mayDeleteRoot, keep);
    for (RegKey& key : document.keys) {
        planner.key(key);
        for (RegValue& value : key.values)
            planner.value(value);
        // Moved out: the document shrinks as the plan grows.
        key.values = {};
    }
    return steps;
}

StepWalk walkOf(const std::vector<ImportStep>& steps)
{
    return [&steps](const std::function<void(const ImportStep&)>& visit) {
        for (const ImportStep& step : steps)
            visit(step);
    };
}

StepWalk planWalk(RegText text, const std::wstring& fromPath, const std::wstring& toKey, bool mayDeleteRoot)
{
    struct Kept {
        std::optional<RegText> text; // until a walk has read it to its end
        StepStore steps;
    };
    const auto kept = std::make_shared<Kept>();
    kept->text.emplace(std::move(text));
    return [fromPath, toKey, mayDeleteRoot, kept](const std::function<void(const ImportStep&)>& visit) {
        if (!kept->text) {
            kept->steps.walk(visit);
            return;
        }
        kept->steps.clear();
        const std::function<void(const ImportStep&)> keep = [&](const ImportStep& step) {
            kept->steps.add(step);
            visit(step);
        };
        Planner planner(fromPath, toKey, mayDeleteRoot, keep);
        kept->text->read(planner);
        kept->text.reset(); // the kept steps stand for it from here
    };
}

} // namespace vesk_tool

#pragma once

#include "tools/vesk/core/RegFile.h"

#include <functional>
#include <string>
#include <vector>

// Turns a parsed .reg document into registry operations below one key,
// checking everything the registry would refuse before any of it is written.
namespace vesk_tool {

struct ImportStep {
    enum class Action { DeleteKey, CreateKey, SetValue, DeleteValue };

    Action action = Action::CreateKey;
    int line = 0;
    std::wstring key; // below HKEY_LOCAL_MACHINE
    std::wstring name;
    Kestlib500::RawValue value; // Action::SetValue
};

// The path below the hive of a full path (HKEY_LOCAL_MACHINE\... or
// HKLM\...); "" for the hive itself.
std::wstring belowHive(const std::wstring& fullPath);

// `fromPath` is the full path of the key the file holds, as files spell it
// (HKEY_LOCAL_MACHINE\...); its keys are written below `toKey` (below the
// hive) instead. Every key of the document must be `fromPath` or below it,
// and land within the registry's limits, else RegFileError names the line.
// Each [key] becomes a CreateKey followed by its values, so the applier can
// create a key once and write its values through it. When `mayDeleteRoot`
// is false, a line deleting `toKey` itself is refused.
std::vector<ImportStep> planImport(const RegDocument& document, const std::wstring& fromPath, const std::wstring& toKey,
                                   bool mayDeleteRoot = true);
// The same, moving the document's names and data into the steps.
std::vector<ImportStep> planImport(RegDocument&& document, const std::wstring& fromPath, const std::wstring& toKey,
                                   bool mayDeleteRoot = true);

// A plan handed out step by step, in order, to the function it is given;
// walked again, it hands out the same steps. A step handed out is valid only
// during the call.
using StepWalk = std::function<void(const std::function<void(const ImportStep&)>& visit)>;

// A walk over steps held whole; `steps` must outlive it.
StepWalk walkOf(const std::vector<ImportStep>& steps);

// planImport's steps and checks, made from `text` as they are walked and
// kept packed (a StepStore, a few bytes a value besides its name and data),
// so that the text is read once and let go: later walks hand out the kept
// steps. A walk throws RegFileError where planImport would, after handing
// out the steps before it: walk it once whole before acting on any step.
StepWalk planWalk(RegText text, const std::wstring& fromPath, const std::wstring& toKey, bool mayDeleteRoot = true);

} // namespace vesk_tool

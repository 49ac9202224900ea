#include "tools/vesk/core/PlanApplier.h"

#include "tools/vesk/core/Text.h"
#include "support/registry/KeyPath.h"
#include "support/registry/RegistryKey.h"

namespace vesk_tool {
namespace {

using Kestlib500::RegistryKey;

std::string keyName(const std::wstring& key)
{
    return toUtf8(Kestlib500::FullKeyPath(key));
}

std::string valueName(const ImportStep& step)
{
    return (step.name.empty() ? std::string("@") : "\"" + toUtf8(step.name) + "\"") + " of " + keyName(step.key);
}

class Applier {
public:
    void apply(const ImportStep& step)
    {
        switch (step.action) {
        case ImportStep::Action::DeleteKey:
            deleteKey(step);
            return;
        case ImportStep::Action::CreateKey:
            openForWriting(step);
            return;
        case ImportStep::Action::SetValue:
            openForWriting(step);
            if (!current.Set(step.name.c_str(), step.value))
                throw ApplyError(step.line, "the registry refused to write the value " + valueName(step));
            return;
        case ImportStep::Action::DeleteValue:
            deleteValue(step);
            return;
        }
    }

private:
    // Folding keeps the length; a run of one key's steps spells it alike.
    bool isCurrent(const std::wstring& key) const
    {
        return current.IsOpen() && currentPath.size() == key.size() &&
               (currentPath == key || equalsIgnoreCase(currentPath, key));
    }

    void openForWriting(const ImportStep& step)
    {
        if (isCurrent(step.key))
            return;
        current = RegistryKey::Create(step.key);
        currentPath = step.key;
        if (!current.IsOpen())
            throw ApplyError(step.line, "the registry refused to create the key " + keyName(step.key));
    }

    void deleteKey(const ImportStep& step)
    {
        current = RegistryKey();
        if (!RegistryKey::DeleteTree(step.key) && RegistryKey::Open(step.key).IsOpen())
            throw ApplyError(step.line, "the registry refused to delete the key " + keyName(step.key));
    }

    // A value already missing, or in a missing key, is as good as deleted.
    void deleteValue(const ImportStep& step)
    {
        if (!isCurrent(step.key)) {
            current = RegistryKey::Open(step.key, RegistryKey::Access::ReadWrite);
            currentPath = step.key;
        }
        DWORD type = 0;
        if (current.IsOpen() && !current.DeleteValue(step.name.c_str()) && current.QueryType(step.name.c_str(), type))
            throw ApplyError(step.line, "the registry refused to delete the value " + valueName(step));
    }

    RegistryKey current;
    std::wstring currentPath;
};

} // namespace

void applyPlan(const std::vector<ImportStep>& steps, Progress& progress)
{
    applyPlan(walkOf(steps), progress);
}

void applyPlan(const StepWalk& steps, Progress& progress)
{
    Applier applier;
    steps([&](const ImportStep& step) {
        try {
            applier.apply(step);
        } catch (const ApplyError&) {
            throw;
        } catch (const std::exception& error) {
            throw ApplyError(step.line, error.what());
        }
        progress.advance();
    });
}

} // namespace vesk_tool

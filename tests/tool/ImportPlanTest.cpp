#include "tools/vesk/core/ImportPlan.h"
#include "tools/vesk/core/Text.h"

#include <gtest/gtest.h>

#include <tuple>

using namespace vesk_tool;

namespace {

const std::wstring From = L"HKEY_LOCAL_MACHINE\\Software\\Halvorn\\Tessaly\\Orvane\\I";
const std::wstring To = L"Software\\Halvorn\\Tessaly\\Orvane\\J";

std::wstring deep(int levels)
{
    std::wstring path;
    for (int i = 0; i < levels; ++i)
        path += L"\\k";
    return path;
}

} // namespace

// HKLM, sub-keys below sub-keys and a sibling instance sharing the prefix are
// tried through the tool itself (CliTest); the key-path rule's cases through
// the registry layer. Here: the rule holds for the path written, not read.
TEST(PlanImport, MovesKeysOfTheSourceBelowTheTargetAndRefusesTheRest)
{
    const int levelsLeft = 512 - 5; // Software\Halvorn\Tessaly\Orvane\J
    const struct {
        std::wstring path;
        std::wstring key;
        const char* refusal; // what is said instead when the key cannot be written
    } cases[] = {
        {L"hkey_local_machine\\software\\halvorn\\tessaly\\orvane\\i", To, nullptr},
        {L"hklm\\SOFTWARE\\halvorn\\Tessaly\\Orvane\\i\\A", To + L"\\A", nullptr},
        {From + deep(levelsLeft), To + deep(levelsLeft), nullptr},
        {L"HKEY_CURRENT_USER\\Software\\Halvorn\\Tessaly\\Orvane\\I", L"", "outside"},
        {From + L"x", L"", "outside"},
        {L"HKEY_LOCAL_MACHINEX\\Software", L"", "outside"},
        {From + L"\\A\\\\B", L"", "empty name"},
        {From + deep(levelsLeft + 1), L"", "512 levels"},
    };
    for (const auto& c : cases) {
        const std::string row = toUtf8(c.path.substr(0, 80));
        try {
            const auto steps = planImport(RegDocument{{RegKey{7, c.path, false, {}}}}, From, To);
            ASSERT_EQ(steps.size(), 1u) << row;
            EXPECT_FALSE(c.refusal) << row;
            EXPECT_EQ(steps[0].action, ImportStep::Action::CreateKey) << row;
            EXPECT_EQ(steps[0].key, c.key) << row;
        } catch (const RegFileError& error) {
            EXPECT_TRUE(c.refusal && std::string(error.what()).find(c.refusal) != std::string::npos)
                << row << ": " << error.what();
            EXPECT_EQ(error.line, 7) << row;
        }
    }
}

// Deleting every instance is refused through the tool (CliTransferTest).
TEST(PlanImport, RefusesAnOverlongValueName)
{
    RegKey key{7, From, false, {RegValue{8, std::wstring(16384, L'v'), false, {}}}};
    EXPECT_THROW(planImport(RegDocument{{key}}, From, To), RegFileError);
    key.values[0].name.pop_back();
    EXPECT_NO_THROW(planImport(RegDocument{{key}}, From, To));
}

// The text is read on the first walk; later walks hand out what it kept.
TEST(PlanImport, EveryWalkHandsOutTheStepsOfTheDocument)
{
    const std::string from = toUtf8(From);
    // A value of 1.2 MB, past the store's blocks, amid small ones.
    const std::string file = "Windows Registry Editor Version 5.00\n\n[" + from + "]\n\"s\"=\"text\"\n\"big\"=\"" +
                             std::string(600000, 'x') + "\"\n@=dword:2a\n\n[-" + from + "\\Gone]\n\n[" + from +
                             "\\A]\n\"b\"=hex:01,\\\n  02\n\"s\"=-\n";
    const auto fields = [](const ImportStep& s) {
        return std::make_tuple(s.action, s.line, s.key, s.name, s.value.type, s.value.data);
    };
    std::vector<decltype(fields(ImportStep{}))> expected;
    for (const ImportStep& step : planImport(readRegFile(file), From, To))
        expected.push_back(fields(step));
    const StepWalk walk = planWalk(RegText(file), From, To);
    for (int pass = 1; pass <= 2; ++pass) {
        std::vector<decltype(fields(ImportStep{}))> walked;
        walk([&](const ImportStep& step) { walked.push_back(fields(step)); });
        EXPECT_EQ(walked, expected) << "walk " << pass;
    }
}

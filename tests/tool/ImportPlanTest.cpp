#include "ImportPlan.h"
#include "Text.h"

#include <gtest/gtest.h>

using namespace vesk_tool;

const std::wstring Root = L"HKEY_LOCAL_MACHINE\\Software\\Halvorn\\Tessaly\\Orvane\\I";

// HKLM, sub-keys below sub-keys and a sibling instance sharing the prefix are
// tried through the tool itself (CliTest).
TEST(PlanImport, MapsKeysOfTheInstanceToSubKeysAndRefusesTheRest)
{
    const struct {
        std::wstring path;
        std::wstring subKey;
        const char* refusal; // what is said instead when the key cannot be written
    } cases[] = {
        {L"hkey_local_machine\\software\\halvorn\\tessaly\\orvane\\i", L"", nullptr},
        {L"hkey_local_machine\\SOFTWARE\\halvorn\\Tessaly\\Orvane\\i\\A", L"A", nullptr},
        {Root + L"\\" + std::wstring(255, L'k'), std::wstring(255, L'k'), nullptr},
        {L"HKEY_CURRENT_USER\\Software\\Halvorn\\Tessaly\\Orvane\\I", L"", "outside"},
        {Root + L"\\A\\\\B", L"", "empty key name"},
        {Root + L"\\A\\", L"", "empty key name"},
        {Root + L"\\" + std::wstring(256, L'k'), L"", "longer than 255"},
    };
    for (const auto& c : cases) {
        try {
            const auto steps = planImport(RegDocument{{RegKey{7, c.path, false, {}}}}, Root);
            ASSERT_EQ(steps.size(), 1u);
            EXPECT_FALSE(c.refusal) << toUtf8(c.path);
            EXPECT_EQ(steps[0].action, ImportStep::Action::CreateKey);
            EXPECT_EQ(steps[0].subKey, c.subKey);
        } catch (const RegFileError& error) {
            EXPECT_TRUE(c.refusal && std::string(error.what()).find(c.refusal) != std::string::npos) << error.what();
            EXPECT_EQ(error.line, 7);
        }
    }
}

TEST(PlanImport, RefusesAnOverlongValueName)
{
    RegKey k{7, Root, false, {RegValue{8, std::wstring(MaxValueNameLength + 1, L'v'), false, {REG_SZ, {0, 0}}}}};
    EXPECT_THROW(planImport(RegDocument{{k}}, Root), RegFileError);
    k.values[0].name.pop_back();
    EXPECT_NO_THROW(planImport(RegDocument{{k}}, Root));
}

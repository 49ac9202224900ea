#include "ImportPlan.h"

#include <gtest/gtest.h>

using namespace vesk_tool;

namespace {

const std::wstring Root = L"HKEY_LOCAL_MACHINE\\Software\\Halvorn\\Tessaly\\Orvane\\I";

RegKey key(const std::wstring& path, bool remove = false)
{
    return RegKey{7, path, remove, {}};
}

RegValue value(const std::wstring& name, RegValue::Kind kind)
{
    return RegValue{8, name, kind, L"text", 42};
}

} // namespace

TEST(PlanImport, MapsKeysOfTheInstanceToSubKeys)
{
    const struct {
        std::wstring path;
        std::wstring subKey;
    } cases[] = {
        {Root, L""},
        {Root + L"\\A\\B", L"A\\B"},
        {L"hkey_local_machine\\SOFTWARE\\halvorn\\Tessaly\\Orvane\\i\\A", L"A"},
        {L"HKLM\\Software\\Halvorn\\Tessaly\\Orvane\\I\\A", L"A"},
        {Root + L"\\" + std::wstring(255, L'k'), std::wstring(255, L'k')},
    };
    for (const auto& c : cases) {
        const auto steps = planImport(RegDocument{{key(c.path)}}, Root);
        ASSERT_EQ(steps.size(), 1u);
        EXPECT_EQ(steps[0].action, ImportStep::Action::CreateKey);
        EXPECT_EQ(steps[0].subKey, c.subKey);
    }
}

TEST(PlanImport, RefusesKeysItCannotWrite)
{
    const struct {
        std::wstring path;
        const char* message;
    } cases[] = {
        {Root + L"2\\A", "outside"}, // a sibling instance sharing the prefix
        {L"HKEY_LOCAL_MACHINE\\Software\\Halvorn\\Tessaly\\Logging", "outside"},
        {L"HKEY_CURRENT_USER\\Software\\Halvorn\\Tessaly\\Orvane\\I", "outside"},
        {Root + L"\\A\\\\B", "empty key name"},
        {Root + L"\\A\\", "empty key name"},
        {Root + L"\\" + std::wstring(256, L'k'), "longer than 255"},
    };
    for (const auto& c : cases) {
        try {
            planImport(RegDocument{{key(c.path)}}, Root);
            ADD_FAILURE() << "accepted a key";
        } catch (const RegFileError& error) {
            EXPECT_EQ(error.line, 7);
            EXPECT_NE(std::string(error.what()).find(c.message), std::string::npos) << error.what();
        }
    }
}

TEST(PlanImport, RefusesAnOverlongValueName)
{
    RegKey k = key(Root);
    k.values.push_back(value(std::wstring(16384, L'v'), RegValue::Kind::String));
    EXPECT_THROW(planImport(RegDocument{{k}}, Root), RegFileError);
    k.values[0].name.pop_back();
    EXPECT_NO_THROW(planImport(RegDocument{{k}}, Root));
}

TEST(PlanImport, KeepsTheFileOrderAndCreatesOnlyKeysWithoutWrites)
{
    RegKey written = key(Root + L"\\W");
    written.values = {value(L"s", RegValue::Kind::String), value(L"d", RegValue::Kind::Dword)};
    RegKey onlyDeletes = key(Root + L"\\D");
    onlyDeletes.values = {value(L"x", RegValue::Kind::Delete)};
    const auto steps = planImport(RegDocument{{key(Root + L"\\Old", true), written, onlyDeletes}}, Root);

    using A = ImportStep::Action;
    const std::vector<std::pair<A, std::wstring>> expected = {
        {A::DeleteKey, L"Old"}, {A::SetString, L"W"}, {A::SetDword, L"W"}, {A::CreateKey, L"D"}, {A::DeleteValue, L"D"}};
    ASSERT_EQ(steps.size(), expected.size());
    for (std::size_t i = 0; i < steps.size(); ++i) {
        EXPECT_EQ(steps[i].action, expected[i].first) << i;
        EXPECT_EQ(steps[i].subKey, expected[i].second) << i;
    }
    EXPECT_EQ(steps[1].text, L"text");
    EXPECT_EQ(steps[2].dword, 42u);
}

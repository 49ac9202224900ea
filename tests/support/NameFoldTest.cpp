// The registry's name fold against Wine's registry itself, on every unit of
// the Basic Multilingual Plane: two units fold alike exactly when Wine takes
// them for the same name.
#include "support/WineNameMatches.h"

#include "support/registry/NameFold.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <utility>
#include <vector>

namespace {

TEST(NameFold, MatchesUnitsExactlyAsWinesRegistryDoes)
{
    // The first unit, going up, that each unit matches: itself unless measured.
    std::vector<char16_t> first(0x10000);
    for (std::size_t unit = 0; unit < first.size(); ++unit)
        first[unit] = static_cast<char16_t>(unit);
    for (const WineNameRun& run : WineNameRuns)
        for (int unit = run.from; unit <= run.to; unit += run.step)
            first[unit] = static_cast<char16_t>(unit + run.offset);

    std::map<char16_t, char16_t> firstByFold;
    int mismatches = 0;
    for (int unit = 1; unit <= 0xFFFF && mismatches < 20; ++unit) {
        const auto seen = firstByFold.emplace(Kestlib500::FoldUnit(static_cast<char16_t>(unit)), unit).first;
        if (seen->second != first[unit]) {
            ++mismatches;
            ADD_FAILURE() << std::hex << "U+" << unit << " folds with U+" << seen->second << ", Wine matches it with U+"
                          << first[unit];
        }
    }
}

// Compared in place, names match exactly when their folded names are equal.
TEST(NameFold, NamesComparedInPlaceMatchAsTheirFoldedNames)
{
    const std::pair<std::wstring, std::wstring> pairs[] = {
        {L"Key\\Sub", L"kEY\\sUB"}, {L"\u00C9", L"\u00E9"}, {L"\u03A3", L"\u03C2"},  {L"a", L"ab"},
        {L"_", L"a"},               {L"", L""},               {L"\U0001F600", L"\U0001F600"}, {L"\U0001F600", L"\U0001F601"},
    };
    for (const auto& [a, b] : pairs)
        EXPECT_EQ(Kestlib500::SameFoldedName(a, b), Kestlib500::FoldedName(a) == Kestlib500::FoldedName(b))
            << a.size() << " and " << b.size() << " units";
}

} // namespace

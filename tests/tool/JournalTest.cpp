// The recovery journal's content, in process against the registry itself:
// whatever an import changes, applying its prior state puts the tree back.
#include "tools/vesk/core/Failure.h"
#include "tools/vesk/core/Journal.h"
#include "tools/vesk/core/PlanApplier.h"
#include "tools/vesk/core/Text.h"
#include "tools/vesk/core/TreeReader.h"
#include "common/RawRegistry.h"
#include "support/registry/KeyPath.h"

#include <gtest/gtest.h>

#include <thread>

using namespace vesk_tool;

namespace {

const std::wstring Server = L"Software\\Halvorn\\Tessaly\\Orvane";

class PriorState : public testing::Test {
protected:
    void TearDown() override { RawRegistry::DeleteTree(root); }

    // The tree as .reg text: every key, value, type and byte.
    std::string dump()
    {
        Progress quiet("", 0, false);
        TreeReader reader(quiet);
        RegDocument document;
        reader.read(root, document);
        return writeRegFile(document, RegEncoding::Utf8);
    }

    std::vector<ImportStep> plan(const std::string& lines)
    {
        const std::string text = "REGEDIT4\n" + lines;
        return planImport(readRegFile(text), Kestlib500::FullKeyPath(root), root);
    }

    const std::wstring root = Server + L"\\" + RawRegistry::UniqueName(L"journal");
    const std::string path = toUtf8(Kestlib500::FullKeyPath(Server)) + "\\";
};

} // namespace

TEST_F(PriorState, UndoesEveryKindOfChange)
{
    RawRegistry::Set(root + L"\\Keep", L"same", REG_DWORD, RawRegistry::Dword(1));
    RawRegistry::Set(root + L"\\Keep", L"changed", REG_SZ, RawRegistry::Text(L"old"));
    RawRegistry::Set(root + L"\\Keep", L"Gone", REG_BINARY, {1, 2, 3});
    RawRegistry::Set(root + L"\\Doomed\\Deep", L"raw", REG_EXPAND_SZ, RawRegistry::Text(L"%PATH%"));
    RawRegistry::Set(root + L"\\Doomed", L"", REG_SZ, RawRegistry::Text(L"default"));
    const std::string before = dump();
    const std::string at = path + toUtf8(root.substr(Server.size() + 1));

    const struct {
        const char* name;
        std::string lines;
        bool changes = true;
    } imports[] = {
        {"values written, overwritten and deleted",
         "[" + at + "\\Keep]\n\"changed\"=\"new\"\n\"added\"=dword:7\n\"gone\"=-\n\"never\"=-\n"},
        {"a key deleted with its subtree, then re-created",
         "[-" + at + "\\Doomed]\n[" + at + "\\Doomed]\n\"fresh\"=\"x\"\n"},
        {"new keys below missing ones", "[" + at + "\\New\\Deeper\\Deepest]\n\"v\"=\"x\"\n[" + at + "\\Keep\\Child]\n"},
        {"a missing key deleted", "[-" + at + "\\Never]\n", false},
        {"the root deleted", "[-" + at + "]\n[" + at + "\\Only]\n"},
    };
    for (const auto& import : imports) {
        const std::vector<ImportStep> steps = plan(import.lines);
        const RegDocument undo = priorState(steps, root);
        Progress quiet("", 0, false);
        applyPlan(steps, quiet);
        EXPECT_EQ(dump() != before, import.changes) << import.name;
        // Through the file's own text, as a later run reads it.
        const std::string journal = writeRegFile(undo, RegEncoding::Utf16);
        applyPlan(planImport(readRegFile(journal), Kestlib500::FullKeyPath(Server), Server), quiet);
        EXPECT_EQ(dump(), before) << import.name << "\n" << writeRegFile(undo, RegEncoding::Utf8);
    }
}

// A restored journal goes: left behind, the next run would put this state
// back again over whatever was written since. One left by a killed run is
// found by the next.
TEST_F(PriorState, RestoringPutsTheTreeBackAndRemovesTheJournal)
{
    RawRegistry::Set(root + L"\\Keep", L"v", REG_DWORD, RawRegistry::Dword(1));
    const std::string before = dump();
    const std::vector<ImportStep> steps = plan("[" + path + toUtf8(root.substr(Server.size() + 1)) + "\\Keep]\n\"v\"=dword:2\n");
    const std::wstring journalKey = Journal::path().substr(Kestlib500::HiveName.size() + 1);
    const auto journaled = [&] {
        Kestlib500::RawValue journal;
        return RawRegistry::Get(journalKey, L"import", journal);
    };
    Progress quiet("", 0, false);
    for (const bool killed : {false, true}) {
        {
            Journal journal(walkOf(steps), root);
            EXPECT_TRUE(journaled());
            // One import at a time: another run's (the lock is a thread's)
            // journal is refused, and this held one is no interrupted import's.
            std::thread([&] {
                EXPECT_THROW(Journal second(walkOf(steps), root), Failure);
                recoverInterruptedImport(Kestlib500::FullKeyPath(Server));
            }).join();
            EXPECT_TRUE(journaled());
            applyPlan(steps, quiet);
            ASSERT_NE(dump(), before);
            if (!killed) {
                EXPECT_TRUE(journal.restore());
            }
        }
        if (killed)
            recoverInterruptedImport(Kestlib500::FullKeyPath(Server));
        EXPECT_EQ(dump(), before) << "killed: " << killed;
        EXPECT_FALSE(journaled()) << "killed: " << killed;
    }
}

// A journal that is no .reg text (a hostile or damaged value) is kept, and
// every run says how to give it up instead of guessing.
TEST_F(PriorState, AnUnreadableJournalIsKeptAndTheMessageSaysHowToGiveItUp)
{
    const std::wstring journalKey = Journal::path().substr(Kestlib500::HiveName.size() + 1);
    ASSERT_TRUE(RawRegistry::Set(journalKey, L"import", REG_BINARY, {'n', 'o', 't', ' ', 'r', 'e', 'g'}));
    try {
        recoverInterruptedImport(Kestlib500::FullKeyPath(Server));
        ADD_FAILURE() << "an unreadable journal was taken";
    } catch (const Failure& failure) {
        EXPECT_NE(std::string(failure.what()).find("delete the value \"import\""), std::string::npos) << failure.what();
    }
    Kestlib500::RawValue kept;
    EXPECT_TRUE(RawRegistry::Get(journalKey, L"import", kept));
    RawRegistry::DeleteTree(journalKey);
}

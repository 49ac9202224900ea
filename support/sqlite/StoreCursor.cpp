#include "support/sqlite/StoreCursor.h"

#include "support/sqlite/RegistryStore.h"
#include "support/text/Unicode.h"

namespace Kestlib500 {

StoreCursor::StoreCursor(Kind kind, long long key) : kind(kind), key(key) {}

StoreCursor::~StoreCursor() { Finish(); }

bool StoreCursor::At(DWORD index, std::wstring& foundName, RawValue* foundValue)
{
    RegistryStore::Session session;
    if (!MoveTo(*session, index))
        return false;
    foundName = name;
    if (foundValue && kind == Kind::Values)
        *foundValue = value;
    return true;
}

bool StoreCursor::MoveTo(RegistryStore& current, DWORD index)
{
    if (!held) {
        statement = current.TakeCursorStatement(kind == Kind::Values);
        held.emplace();
        try {
            current.Transactions().Lend(statement.get());
            current.Transactions().EnterRead();
        } catch (...) {
            // Nothing of the walk is left: the store and the statement go back.
            current.Transactions().Unlend(statement.get());
            held.reset();
            current.GiveBackCursorStatement(kind == Kind::Values, std::move(statement));
            throw;
        }
        return Restart(current, index);
    }
    current.Transactions().BeforeRead();
    if (epoch != current.Transactions().Epoch())
        return Restart(current, index);
    if (onRow && index == row)
        return true;
    if (onRow && index == row + 1) {
        ++row;
        return StepRow();
    }
    return Restart(current, index);
}

bool StoreCursor::Restart(RegistryStore& current, DWORD index)
{
    try {
        current.Transactions().BeforeRead();
        epoch = current.Transactions().Epoch();
        run.reset();
        run.reset(new Statement::Run(*statement));
        run->Bind(1, key).Bind(2, static_cast<long long>(index));
    } catch (...) {
        Finish();
        throw;
    }
    row = index;
    return StepRow();
}

// The row `row` into name and value, or the end of the walk.
bool StoreCursor::StepRow()
{
    onRow = false;
    bool found = false;
    try {
        found = run->Step();
        if (found) {
            const std::u16string text = run->Text(0);
            name = vesk_text::fromUtf16(text);
            if (kind == Kind::Values) {
                value.type = static_cast<DWORD>(run->Number(1));
                value.data = run->Bytes(2);
            }
        }
    } catch (...) {
        Finish();
        throw;
    }
    if (!found) {
        Finish();
        return false;
    }
    onRow = true;
    return true;
}

void StoreCursor::Finish()
{
    onRow = false;
    if (!held)
        return;
    run.reset();
    RegistryStore& store = **held;
    store.Transactions().Unlend(statement.get());
    store.GiveBackCursorStatement(kind == Kind::Values, std::move(statement));
    store.Transactions().LeaveRead();
    held.reset();
}

} // namespace Kestlib500

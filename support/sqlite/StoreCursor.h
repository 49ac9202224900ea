#pragma once

#include "support/registry/ValueText.h"
#include "support/sqlite/RegistryStore.h"
#include "support/sqlite/Statement.h"

#include <memory>
#include <optional>
#include <string>

namespace Kestlib500 {

// A walk through the values (in order of creation) or the sub-keys (by
// folded name) of one key: asking for the next position steps one live
// statement; any other position restarts it at that offset.
//
// While its statement is live the cursor holds the store for its thread and
// a read scope, so the walk sees one state; it lets both go at the end of
// the walk or when it goes. A cursor belongs to the thread that walks it.
class StoreCursor {
public:
    enum class Kind { Values, SubKeys };

    StoreCursor(Kind kind, long long key);
    ~StoreCursor();
    StoreCursor(const StoreCursor&) = delete;
    StoreCursor& operator=(const StoreCursor&) = delete;

    // The entry at `index`; false past the last one, the out-parameters
    // then untouched. `value` is left alone for sub-keys (may be null).
    bool At(DWORD index, std::wstring& name, RawValue* value);

private:
    bool MoveTo(RegistryStore& store, DWORD index);
    bool Restart(RegistryStore& store, DWORD index);
    bool StepRow();
    void Finish();

    Kind kind;
    long long key;
    std::optional<RegistryStore::Session> held; // while live
    std::unique_ptr<Statement> statement;
    std::unique_ptr<Statement::Run> run;
    unsigned long long epoch = 0;
    bool onRow = false;
    DWORD row = 0;
    std::wstring name;
    RawValue value;
};

} // namespace Kestlib500

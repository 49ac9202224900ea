#pragma once

#include "tools/vesk/core/Failure.h"
#include "tools/vesk/fleet/FleetHost.h"
#include "tools/vesk/fleet/FleetStore.h"

#include <functional>
#include <optional>
#include <ostream>
#include <stdexcept>
#include <string>

// The fleet commands over one etcd store and one host. Each returns once the
// change is made or refused; what goes wrong is thrown as a vesk_tool::Failure
// (EtcdError from etcd, DamagedState for a state that does not read back).
// A failed command leaves the host as it was.
namespace vesk_fleet {

// A push that lost a race (--if-revision) is refused as input that no
// longer holds: nothing was written, and the operator pulls and decides.
constexpr vesk_tool::ExitCode StaleRevision = vesk_tool::BadInput;

// A pull refused because of changes made here since the last apply.
constexpr vesk_tool::ExitCode LocalChanges = vesk_tool::WrongType;

// What an apply does with changes made here since the last apply.
enum class DriftPolicy { Refuse, SaveThenOverwrite };

// The local instance against the document applied to it last.
struct Drift {
    std::optional<AppliedRecord> record; // nullopt: never pulled here
    bool known = false;                  // the applied document was at hand to compare with
    Difference changes;                  // from the applied document to the local instance
    bool drifted() const { return known && !changes.empty(); }
    // "3 values changed here since revision 42 was applied".
    std::string describe() const;
};

struct ApplyOutcome {
    std::int64_t revision = 0;
    bool refused = false;  // DriftPolicy::Refuse met local changes: nothing was written
    Drift drift;
    std::string savedFile; // the local state was saved there before it was overwritten
    Difference written;    // what the apply wrote to the instance
    std::int64_t overlay = 0; // the revision of this host's overlay applied with it, 0: none
};

// How a push is made.
struct PushOptions {
    std::optional<std::int64_t> ifRevision; // refuse when the state was written after it
    bool force = false;                     // push even what deletes every value, or most of them
    std::string message;                    // why, kept in the manifest and shown by history
    // More of the push's transaction, made from the state it builds on and
    // the manifest it writes, on each try; may throw vesk_tool::Failure to refuse.
    std::function<TxnAlongside(const PushBase&, const Manifest&)> alongside;
};

class Fleet {
public:
    Fleet(FleetStore& store, FleetHost& host) : store(store), host(host) {}

    // Names the host this runs on: pulls, watches and status then take its
    // overlay into account (none named: overlays are not read).
    void forHost(std::string name) { hostName = std::move(name); }
    // The etcd key of the named host's overlay of `instance`; "" when no host is named.
    std::string overlayKeyOf(const std::wstring& instance) const;
    // Publishes `document` as host `name`'s overlay of `instance`, checked as a
    // push checks a document and, without `force`, guarded as a push is with
    // the overlay on the fleet's state; returns the overlay's revision.
    std::int64_t pushOverlay(const std::wstring& instance, const std::string& name, const std::string& document,
                             const PushOptions& options);
    // Removes host `name`'s overlay of `instance`; returns the revision of the
    // removal, Failure(NotFound) when it had none.
    std::int64_t removeOverlay(const std::wstring& instance, const std::string& name);
    // What pushing `document` as host `name`'s overlay would change on that
    // host, as diff lines. Writes nothing.
    std::string overlayPreview(const std::wstring& instance, const std::string& name, const std::string& document);

    // Checks the document as import would and publishes it; returns the new
    // revision. Without `force`, refuses (BadInput) a document with no value,
    // or one that deletes more than half of the values of the fleet's state.
    std::int64_t push(const std::wstring& instance, const std::string& document, const PushOptions& options,
                      const std::string& note = std::string());

    // Makes the instance equal to the fleet's latest state, writing only
    // what differs; local changes are refused or saved first, by `policy`.
    ApplyOutcome pull(const std::wstring& instance, DriftPolicy policy);
    // What pull would change, as diff lines.
    std::string dryRun(const std::wstring& instance);
    // Applies one published state, as pull does.
    ApplyOutcome apply(const std::wstring& instance, const Published& state, DriftPolicy policy);
    // The local instance (or `local`, a document read from it) against what
    // was applied to it last.
    Drift drift(const std::wstring& instance, Side local = Side::local());
    // What pushing `document` would change in the fleet's latest state, as
    // diff lines. Writes nothing.
    std::string pushPreview(const std::wstring& instance, const std::string& document);

    // "instance A at revision N, fleet at M", up to date, behind or drifted,
    // with what to do about it; `withDiff` adds the local changes' lines.
    std::string status(const std::wstring& instance, bool withDiff = false);

    // The current state and the earlier ones the history keeps, newest
    // first, at most `limit`.
    std::vector<Published> history(const std::wstring& instance, int limit);

    // Publishes revision `revision`'s state again, as a new revision.
    std::int64_t rollback(const std::wstring& instance, std::int64_t revision, const PushOptions& options);

    Published latest(const std::wstring& instance);

private:
    // What this host applies for a state: the state's document, or with the
    // host's overlay on top (Overlay.cpp).
    struct Target {
        std::string stateDocument;
        std::string document; // what is applied
        AppliedRecord record;
        std::string overlayHost; // as the overlay names it; "" when there is none
    };
    Target targetOf(const std::wstring& instance, const Published& state);
    // The revision of the named host's overlay of `instance`, 0 when none.
    std::int64_t overlayRevision(const std::wstring& instance);
    // pull --dry-run with an overlay: the change split by the layer it comes from.
    std::string layeredDryRun(const std::wstring& instance, const Published& state, const Target& target);
    // The composed document `record` names, from etcd; nullopt when it is gone or differs.
    std::optional<std::string> composedFromStore(const std::wstring& instance, const Published& state,
                                                 const AppliedRecord& record);
    // Refuses a push that would empty the instance or delete most of it.
    void guard(const std::wstring& instance, const std::string& document, const std::optional<Published>& current);
    // A push whose manifest transaction lost its answer: its revision if it
    // landed; else a Failure saying it did not, or that etcd cannot tell.
    std::int64_t settle(const std::wstring& instance, const Manifest& manifest, const PushBase& base,
                        const EtcdError& lost);
    // The applied document from etcd, when the host kept none and etcd still
    // has the revision, of the same cluster and digest.
    std::optional<std::string> appliedFromStore(const std::wstring& instance, const AppliedRecord& record);

    FleetStore& store;
    FleetHost& host;
    std::string hostName;
};

// The instance's name in etcd keys: the registry's fold of it, so that names
// the registry takes for one are one state, with '/' and '%' escaped so that
// no instance's keys lie under another's.
std::string instanceKey(const std::wstring& instance);

// "instance 'A'", as messages name it.
std::string quotedInstance(const std::wstring& instance);

} // namespace vesk_fleet

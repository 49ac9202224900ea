#include "tools/vesk/fleet/FleetCommandKit.h"

#include "tools/vesk/core/Text.h"
#include "tools/vesk/fleet/Rollout.h"

namespace vesk_fleet {
namespace {

struct StepArguments : CommandArguments {
    std::string message; // abort: why
};

// Runs one operator's step on the instance's rollout and prints what it did.
template <std::string (*step)(Rollouts&, const StepArguments&)>
int runStep(const StepArguments& o, FleetContext& context)
{
    Connection connection(o, context);
    Rollouts rollouts(connection.store, connection.forHost(""), vesk_tool::fromUtf8(o.instance));
    context.out << step(rollouts, o);
    return vesk_tool::Success;
}

// The steps themselves, each saying what it did.
std::string promoteRollout(Rollouts& rollouts, const StepArguments&)
{
    return rollouts.promote();
}

std::string pauseRollout(Rollouts& rollouts, const StepArguments&)
{
    return rollouts.pause();
}

std::string abortRollout(Rollouts& rollouts, const StepArguments& o)
{
    return rollouts.abort(o.message.empty() ? "by the operator" : o.message);
}

} // namespace

// `promote`, `pause` and `abort`.
void defineRolloutSteps(CLI::App& fleet, const std::function<void(FleetAction)>& chosen)
{
    auto o = std::make_shared<StepArguments>();
    runs(addSubcommand(fleet, "promote", "Open the rollout's next ring (the last ends it), or resume it if paused",
                       o->access),
         chosen, o, runStep<promoteRollout>);
    runs(addSubcommand(fleet, "pause", "Hold the rollout: the next promote only resumes it", o->access), chosen, o,
         runStep<pauseRollout>);
    CLI::App* abortCommand =
        addSubcommand(fleet, "abort", "Publish the revision before the rollout again, and end it", o->access);
    abortCommand->add_option("-m,--message", o->message, "Why, kept with the revision and shown by history");
    runs(abortCommand, chosen, o, runStep<abortRollout>);
}

} // namespace vesk_fleet

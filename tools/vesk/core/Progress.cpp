#include "tools/vesk/core/Progress.h"

#include <algorithm>
#include <cstdio>

namespace vesk_tool {
namespace {

constexpr auto Delay = std::chrono::seconds(1);
constexpr auto Interval = std::chrono::milliseconds(100);
// Entries between looks at the clock: cheap next to a registry operation.
constexpr std::size_t Stride = 64;

void writeErr(const std::string& text)
{
    std::fwrite(text.data(), 1, text.size(), stderr);
    std::fflush(stderr);
}

} // namespace

Progress::Progress(std::string what, std::size_t count, bool terminal)
    : doing(std::move(what)), total(count), enabled(terminal), start(Clock::now())
{
}

Progress::~Progress()
{
    finish();
}

void Progress::advance(std::size_t entries)
{
    const std::size_t before = done;
    done += entries;
    if (!enabled || before / Stride == done / Stride)
        return;
    const Clock::time_point now = Clock::now();
    if (now - start < Delay || (shown && now - lastDraw < Interval))
        return;
    lastDraw = now;
    draw();
}

void Progress::finish()
{
    if (!shown)
        return;
    writeErr("\r" + std::string(width, ' ') + "\r");
    shown = false;
}

std::string Progress::line() const
{
    std::string text = "vesk: " + doing + " " + std::to_string(done);
    if (total > 0)
        text += " of " + std::to_string(total);
    return text + " entries";
}

void Progress::draw()
{
    const std::string text = line();
    // Pads over a longer line drawn before.
    const std::string padding(width > text.size() ? width - text.size() : 0, ' ');
    writeErr("\r" + text + padding);
    width = std::max(width, text.size());
    shown = true;
}

} // namespace vesk_tool

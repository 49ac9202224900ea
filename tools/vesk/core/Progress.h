#pragma once

#include <chrono>
#include <cstddef>
#include <string>

// One self-updating line on standard error for a long import or export:
// shown only when standard error is a terminal and the work has run for
// about a second, rewritten in place, and cleared when the work ends (or the
// object goes), so the lines that follow start on a clean line.
namespace vesk_tool {

class Progress {
public:
    // `total` is 0 when it is not known in advance.
    Progress(std::string doing, std::size_t total, bool terminal);
    ~Progress();
    Progress(const Progress&) = delete;
    Progress& operator=(const Progress&) = delete;

    // The total once it is known (counted by a pass before the work).
    void setTotal(std::size_t count) { total = count; }
    void advance(std::size_t entries = 1);
    void finish();

    // The line as it is shown, e.g. "vesk: importing 1200 of 20000 entries".
    std::string line() const;

private:
    using Clock = std::chrono::steady_clock;

    void draw();

    std::string doing;
    std::size_t total;
    std::size_t done = 0;
    bool enabled;
    bool shown = false;
    std::size_t width = 0;
    Clock::time_point start;
    Clock::time_point lastDraw;
};

} // namespace vesk_tool

#pragma once

#include <map>
#include <string>

// The ratios of medians the targets are stated in, from one run's results
// keyed by scenario name (nanoseconds per operation), printed as a table.
void PrintRatios(const std::map<std::string, double>& medians, const char* backEnd, double uncachedToCachedTarget);

// One ratio of two scenarios' medians, as a row of that table.
void PrintRatio(const std::map<std::string, double>& medians, const char* label, const char* over,
    const char* under, const char* target);

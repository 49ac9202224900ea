#include "Ratios.h"

#include <cstdio>

void PrintRatio(const std::map<std::string, double>& medians, const char* label, const char* over,
    const char* under, const char* target)
{
    const auto top = medians.find(over);
    const auto bottom = medians.find(under);
    if (top == medians.end() || bottom == medians.end() || bottom->second <= 0)
        return;
    std::printf("%-46s %10.2f   %s\n", label, top->second / bottom->second, target);
}

void PrintRatios(const std::map<std::string, double>& medians, const char* backEnd, double uncachedToCachedTarget)
{
    char target[32];
    std::snprintf(target, sizeof target, "at least %.0f", uncachedToCachedTarget);
    std::printf("\nRatios of medians (%s)                          ratio   target\n", backEnd);
    PrintRatio(medians, "cached GetIntValue / floor", "cached_GetIntValue", "floor_cached_read", "at most 1.3");
    PrintRatio(medians, "registry GetIntValue / raw registry calls", "registry_GetIntValue", "raw_registry_read",
        "at most 1.3");
    PrintRatio(medians, "registry GetIntValue / cached GetIntValue", "registry_GetIntValue", "cached_GetIntValue", target);
}

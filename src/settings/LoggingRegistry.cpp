#include "settings/LoggingRegistry.h"

using Kestlib500::SWCharString;

LoggingRegistry::LoggingRegistry() : ServerRegistry(SWCharString(L"Logging"), SWCharString(L"")) {}

SWCharString LoggingRegistry::ReadLoggingPath() { return ReadValue(SWCharString(L"loggingPath")); }

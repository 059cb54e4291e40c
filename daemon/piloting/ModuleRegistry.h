// Registration of the window kinds that each piloting module follows.
#pragma once

#include "daemon/proxy/ProxyData.h"

// Adds one kind to one module of `registry`; false (and no change) for an unknown kind name.
bool RegisterKind(ModuleRegistry& registry, const char* moduleName, const char* windowKind);

// The same on theProxyData.m_modules, under its lock.
bool RegisterPilotingModule(const char* moduleName, const char* windowKind);

// Empties theProxyData.m_modules, under its lock.
void ClearPilotingModules();

#include "daemon/piloting/ModuleRegistry.h"

#include "daemon/piloting/WindowKind.h"

bool RegisterKind(ModuleRegistry& registry, const char* moduleName, const char* windowKind) {
    WindowKind kind = WindowKindFromName(windowKind);
    if (kind == WindowKind::None) return false;
    registry[moduleName ? moduleName : ""].insert(static_cast<std::int32_t>(kind));
    return true;
}

bool RegisterPilotingModule(const char* moduleName, const char* windowKind) {
    CriticalSectionGuard guard(theProxyData.m_lock);
    return RegisterKind(theProxyData.m_modules, moduleName, windowKind);
}

void ClearPilotingModules() {
    CriticalSectionGuard guard(theProxyData.m_lock);
    theProxyData.m_modules.clear();
}

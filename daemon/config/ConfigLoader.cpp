// Seam: the loader is being written.
#include "daemon/config/ConfigLoader.h"

#include "daemon/core/Application.h"

void LoadConfiguration(PilotingConfiguration&, const char*) {}

void CApplication::LoadConfiguration(const char* fileName) { ::LoadConfiguration(config, fileName); }
void CApplication::DumpConfiguration() {}

// Loading of the piloting rules from a profile (INI) file.
#pragma once

#include "daemon/config/ConfigModel.h"

// Applies every rule section of `fileName` to `config`, then dumps the model; an empty name does nothing.
void LoadConfiguration(PilotingConfiguration& config, const char* fileName);

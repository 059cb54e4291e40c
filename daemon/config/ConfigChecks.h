// Checks of the loaded rules and the dump of the model to the log. They only report; nothing is rejected.
#pragma once

#include "daemon/config/ConfigModel.h"

#include <string>

// Logs an error unless `keyType` (already upper-cased) is one of the key types the encoder knows.
void CheckKeyType(const std::string& keyType);

// Writes the whole model to the log at trace level 5, with a warning for every table that lacks its
// "DEFAULT" entry. An empty model writes nothing.
void DumpConfiguration(const PilotingConfiguration& config);

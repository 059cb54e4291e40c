// Seam: lookup and value encoding are being written.
#include "daemon/core/Application.h"

const PilotingKey* CApplication::FindPilotingKey(const char*, const char*, const char*) { return nullptr; }
void CApplication::PilotInstrument(std::int32_t, std::int32_t, std::int32_t, const char*, const char*, const char*,
                                   const char*, const char*, const char*) {}

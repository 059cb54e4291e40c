// Validation of received WM_COPYDATA requests: nothing is read beyond cbData or beyond a field's width.
#pragma once

#include "common/QXRequests.h"

#include <windows.h>

#include <string>

struct DecodedRequest {
    enum class Kind { Ignored, Malformed, Start, AddModule, Pilot, Stop };
    Kind kind = Kind::Ignored;
    const StartRequest* start = nullptr;
    const ModuleRequest* module = nullptr;
    const PilotRequest* pilot = nullptr;
    std::string problem;  // for Malformed: the log text
};

DecodedRequest DecodeRequest(ULONG_PTR code, const void* data, DWORD size);

#include "daemon/core/RequestDecode.h"

#include <cstdio>

namespace {

template <typename Record>
DecodedRequest Expect(DecodedRequest::Kind kind, ULONG_PTR code, const void* data, DWORD size,
                      const Record* DecodedRequest::*slot) {
    DecodedRequest result;
    char text[128];
    if (data == nullptr) {
        std::snprintf(text, sizeof text, "Malformed request %lu ignored: no record", static_cast<unsigned long>(code));
    } else if (size < sizeof(Record)) {
        std::snprintf(text, sizeof text, "Malformed request %lu ignored: %lu bytes received, %lu expected",
                      static_cast<unsigned long>(code), static_cast<unsigned long>(size),
                      static_cast<unsigned long>(sizeof(Record)));
    } else {
        result.kind = kind;
        result.*slot = static_cast<const Record*>(data);
        return result;
    }
    result.kind = DecodedRequest::Kind::Malformed;
    result.problem = text;
    return result;
}

}  // namespace

DecodedRequest DecodeRequest(ULONG_PTR code, const void* data, DWORD size) {
    switch (code) {
    case PILOT_REQ_START_TERMINAL:
        return Expect(DecodedRequest::Kind::Start, code, data, size, &DecodedRequest::start);
    case PILOT_REQ_ADD_MODULE:
        return Expect(DecodedRequest::Kind::AddModule, code, data, size, &DecodedRequest::module);
    case PILOT_REQ_PILOT:
        return Expect(DecodedRequest::Kind::Pilot, code, data, size, &DecodedRequest::pilot);
    case PILOT_REQ_STOP: {
        DecodedRequest stop;
        stop.kind = DecodedRequest::Kind::Stop;
        return stop;
    }
    default:
        return {};
    }
}

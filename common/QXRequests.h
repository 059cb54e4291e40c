// Control request records exchanged between IQXPilotSt.dll and QXPilotSt.exe through WM_COPYDATA.
// The layouts are a wire format shared by both deliverables: never reorder, resize or pad a field.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// COPYDATASTRUCT::dwData values.
enum RequestCode : std::uint32_t {
    PILOT_REQ_START_TERMINAL = 1,
    PILOT_REQ_ADD_MODULE = 2,
    PILOT_REQ_PILOT = 3,
    PILOT_REQ_STOP = 4,
};

// Window class of the daemon's control window: the only rendezvous between client and daemon.
inline constexpr char kControlWindowClass[] = "TarvelQXPilot";

#pragma pack(push, 1)

struct StartRequest {
    char address[64];
    std::int32_t port;
    char configFile[256];
};

struct ModuleRequest {
    char moduleName[32];
    char windowKind[32];
};

struct PilotRequest {
    std::int32_t place;
    std::int32_t codeMiddle;
    std::int32_t market;
    std::int32_t extraNumber;
    char symbol[33];
    char extraCode[11];
    char group[6];
    char isin[13];
    char currency[4];
    char creditClass[6];
    char underlying[33];
    char padding[2];  // not set by the sender, never read
};

#pragma pack(pop)

static_assert(sizeof(StartRequest) == 324);
static_assert(offsetof(StartRequest, address) == 0);
static_assert(offsetof(StartRequest, port) == 64);
static_assert(offsetof(StartRequest, configFile) == 68);

static_assert(sizeof(ModuleRequest) == 64);
static_assert(offsetof(ModuleRequest, moduleName) == 0);
static_assert(offsetof(ModuleRequest, windowKind) == 32);

static_assert(sizeof(PilotRequest) == 124);
static_assert(offsetof(PilotRequest, place) == 0);
static_assert(offsetof(PilotRequest, codeMiddle) == 4);
static_assert(offsetof(PilotRequest, market) == 8);
static_assert(offsetof(PilotRequest, extraNumber) == 12);
static_assert(offsetof(PilotRequest, symbol) == 16);
static_assert(offsetof(PilotRequest, extraCode) == 49);
static_assert(offsetof(PilotRequest, group) == 60);
static_assert(offsetof(PilotRequest, isin) == 66);
static_assert(offsetof(PilotRequest, currency) == 79);
static_assert(offsetof(PilotRequest, creditClass) == 83);
static_assert(offsetof(PilotRequest, underlying) == 89);
static_assert(offsetof(PilotRequest, padding) == 122);

// Copies text into a fixed-width field: zero-filled first by the caller, cut to width-1, null sent as empty.
template <std::size_t N>
inline void CopyField(char (&field)[N], const char* text) noexcept {
    std::size_t i = 0;
    if (text != nullptr) {
        for (; i + 1 < N && text[i] != '\0'; ++i) field[i] = text[i];
    }
    field[i] = '\0';
}


// Reads a received field as text, bounded by its width even when the sender left it unterminated.
template <std::size_t N>
inline std::string FieldText(const char (&field)[N]) {
    std::size_t n = 0;
    while (n < N && field[n] != '\0') ++n;
    return std::string(field, n);
}

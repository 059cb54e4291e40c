// qxsend: sends one raw control request to the running daemon, any code, any bytes, any cbData.
// Meant for tests and for poking at the daemon by hand; applications use IQXPilotSt.dll.
#include "common/QXRequests.h"

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

void Usage() {
    std::puts(
        "usage: qxsend CODE [options]\n"
        "  CODE            a number, or start (1), module (2), pilot (3), stop (4)\n"
        "options, applied in order:\n"
        "  --size N        record size (default: 324 start, 64 module, 124 pilot, 0 otherwise)\n"
        "  --fill BYTE     fill the whole record with BYTE (default 0)\n"
        "  --text OFF S    copy S (without terminator) to offset OFF\n"
        "  --cstr OFF S    copy S with its terminator to offset OFF\n"
        "  --int OFF N     store the 32-bit integer N at offset OFF\n"
        "  --hex OFF HEX   store the bytes HEX (e.g. 00ff41) at offset OFF\n"
        "  --cb N          cbData to announce (default: the record size; never more than the record)\n"
        "  --null          send lpData null\n"
        "exit status: 0 sent, 100 no daemon window, 2 bad arguments");
}

bool ParseLong(const char* text, long& value) {
    char* end = nullptr;
    value = std::strtol(text, &end, 0);
    return end != text && *end == '\0';
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2 || std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0) {
        Usage();
        return argc < 2 ? 2 : 0;
    }
    long code = 0;
    std::size_t size = 0;
    std::string name = argv[1];
    if (name == "start") code = PILOT_REQ_START_TERMINAL, size = sizeof(StartRequest);
    else if (name == "module") code = PILOT_REQ_ADD_MODULE, size = sizeof(ModuleRequest);
    else if (name == "pilot") code = PILOT_REQ_PILOT, size = sizeof(PilotRequest);
    else if (name == "stop") code = PILOT_REQ_STOP;
    else if (!ParseLong(argv[1], code)) {
        std::fprintf(stderr, "qxsend: unknown request code '%s'\n", argv[1]);
        return 2;
    } else if (code == PILOT_REQ_START_TERMINAL) size = sizeof(StartRequest);
    else if (code == PILOT_REQ_ADD_MODULE) size = sizeof(ModuleRequest);
    else if (code == PILOT_REQ_PILOT) size = sizeof(PilotRequest);

    std::vector<unsigned char> record(size, 0);
    long cb = -1;
    bool nullData = false;
    auto need = [&](int i, int count) {
        if (i + count >= argc) {
            std::fprintf(stderr, "qxsend: %s needs %d argument(s)\n", argv[i], count);
            std::exit(2);
        }
    };
    auto place = [&](long offset, const void* bytes, std::size_t length) {
        if (offset < 0 || static_cast<std::size_t>(offset) + length > record.size()) {
            std::fprintf(stderr, "qxsend: offset %ld + %zu bytes is outside the %zu-byte record\n", offset, length,
                         record.size());
            std::exit(2);
        }
        std::memcpy(record.data() + offset, bytes, length);
    };
    for (int i = 2; i < argc; ++i) {
        std::string option = argv[i];
        long number = 0, offset = 0;
        if (option == "--size") {
            need(i, 1);
            if (!ParseLong(argv[++i], number) || number < 0 || number > 1 << 20) return std::fprintf(stderr, "qxsend: bad size\n"), 2;
            record.resize(static_cast<std::size_t>(number), 0);
        } else if (option == "--fill") {
            need(i, 1);
            if (!ParseLong(argv[++i], number)) return std::fprintf(stderr, "qxsend: bad byte\n"), 2;
            std::memset(record.data(), static_cast<int>(number & 0xff), record.size());
        } else if (option == "--text" || option == "--cstr") {
            need(i, 2);
            if (!ParseLong(argv[i + 1], offset)) return std::fprintf(stderr, "qxsend: bad offset\n"), 2;
            const char* text = argv[i + 2];
            place(offset, text, std::strlen(text) + (option == "--cstr" ? 1 : 0));
            i += 2;
        } else if (option == "--int") {
            need(i, 2);
            if (!ParseLong(argv[i + 1], offset) || !ParseLong(argv[i + 2], number))
                return std::fprintf(stderr, "qxsend: bad --int arguments\n"), 2;
            std::int32_t value = static_cast<std::int32_t>(number);
            place(offset, &value, sizeof value);
            i += 2;
        } else if (option == "--hex") {
            need(i, 2);
            if (!ParseLong(argv[i + 1], offset)) return std::fprintf(stderr, "qxsend: bad offset\n"), 2;
            std::string hex = argv[i + 2];
            if (hex.size() % 2 != 0) return std::fprintf(stderr, "qxsend: odd number of hex digits\n"), 2;
            std::vector<unsigned char> bytes;
            for (std::size_t k = 0; k < hex.size(); k += 2) {
                long byte = 0;
                if (!ParseLong(("0x" + hex.substr(k, 2)).c_str(), byte)) return std::fprintf(stderr, "qxsend: bad hex\n"), 2;
                bytes.push_back(static_cast<unsigned char>(byte));
            }
            place(offset, bytes.data(), bytes.size());
            i += 2;
        } else if (option == "--cb") {
            need(i, 1);
            if (!ParseLong(argv[++i], cb) || cb < 0) return std::fprintf(stderr, "qxsend: bad cb\n"), 2;
        } else if (option == "--null") {
            nullData = true;
        } else {
            std::fprintf(stderr, "qxsend: unknown option %s (see --help)\n", option.c_str());
            return 2;
        }
    }
    // Announcing more than we hold would make the platform read past our buffer.
    if (cb < 0 || static_cast<std::size_t>(cb) > record.size()) cb = static_cast<long>(record.size());

    HWND daemon = FindWindowA(kControlWindowClass, nullptr);
    if (daemon == nullptr) {
        std::fprintf(stderr, "qxsend: no daemon window (class %s)\n", kControlWindowClass);
        return 100;
    }
    COPYDATASTRUCT data{};
    data.dwData = static_cast<ULONG_PTR>(code);
    data.cbData = static_cast<DWORD>(cb);
    data.lpData = nullData || record.empty() ? nullptr : record.data();
    SendMessageA(daemon, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&data));
    return 0;
}

// resolve: the daemon's own lookup and encoding on a configuration file, without a daemon or a terminal.
#include "common/QXRequests.h"
#include "daemon/config/ConfigLoader.h"
#include "daemon/log/Logger.h"
#include "daemon/piloting/Piloting.h"
#include "tools/qxpilot/Commands.h"

#include <windows.h>

#include <charconv>
#include <cstdio>
#include <cstring>
#include <string>

namespace {

void ResolveUsage(FILE* out) {
    std::fprintf(out,
                 "usage: qxpilot resolve --config FILE --place P --market M [--code-middle C] [--isin I]\n"
                 "                       [--currency C] [--symbol S] [--credit-class X] [--underlying U] [--group G]\n"
                 "\n"
                 "Loads FILE as the daemon does on its first start request, resolves one pilot request against it\n"
                 "and prints the daemon's log lines, then the piloting value that would be sent, on a line of its\n"
                 "own. Texts are cut to the widths a pilot request carries. Exit status: 0 when a value results,\n"
                 "1 when nothing would be sent, 2 on a usage error.\n");
}

bool ParseInt32(const char* text, std::int32_t& out) {
    const char* end = text + std::strlen(text);
    auto [rest, error] = std::from_chars(text, end, out);
    return error == std::errc() && rest == end && rest != text;
}

struct ResolveArguments {
    std::string config;
    bool havePlace = false;
    bool haveMarket = false;
    PilotRequest request{};
};

// Texts go into the request record exactly as the client library puts them there.
bool ParseArguments(int argc, char** argv, ResolveArguments& args) {
    for (int i = 0; i < argc; ++i) {
        const char* option = argv[i];
        if (i + 1 >= argc) {
            std::fprintf(stderr, "qxpilot resolve: %s needs a value\n", option);
            return false;
        }
        const char* value = argv[++i];
        PilotRequest& r = args.request;
        bool numberOk = true;
        if (std::strcmp(option, "--config") == 0) {
            args.config = value;
        } else if (std::strcmp(option, "--place") == 0) {
            numberOk = ParseInt32(value, r.place);
            args.havePlace = true;
        } else if (std::strcmp(option, "--market") == 0) {
            numberOk = ParseInt32(value, r.market);
            args.haveMarket = true;
        } else if (std::strcmp(option, "--code-middle") == 0) {
            numberOk = ParseInt32(value, r.codeMiddle);
        } else if (std::strcmp(option, "--isin") == 0) {
            CopyField(r.isin, value);
        } else if (std::strcmp(option, "--currency") == 0) {
            CopyField(r.currency, value);
        } else if (std::strcmp(option, "--symbol") == 0) {
            CopyField(r.symbol, value);
        } else if (std::strcmp(option, "--credit-class") == 0) {
            CopyField(r.creditClass, value);
        } else if (std::strcmp(option, "--underlying") == 0) {
            CopyField(r.underlying, value);
        } else if (std::strcmp(option, "--group") == 0) {
            CopyField(r.group, value);
        } else {
            std::fprintf(stderr, "qxpilot resolve: unknown option %s\n", option);
            return false;
        }
        if (!numberOk) {
            std::fprintf(stderr, "qxpilot resolve: %s takes a 32-bit integer, not '%s'\n", option, value);
            return false;
        }
    }
    if (args.config.empty() || !args.havePlace || !args.haveMarket) {
        std::fprintf(stderr, "qxpilot resolve: --config, --place and --market are required\n");
        return false;
    }
    return true;
}

// The profile reader looks for a name without a folder in the Windows folder; the user means the current one.
std::string FullPath(const std::string& name) {
    DWORD size = GetFullPathNameA(name.c_str(), 0, nullptr, nullptr);
    if (size == 0) return name;
    std::string path(size, '\0');
    DWORD length = GetFullPathNameA(name.c_str(), size, path.data(), nullptr);
    if (length == 0 || length >= size) return name;
    path.resize(length);
    return path;
}

}  // namespace

int RunResolve(int argc, char** argv) {
    if (argc == 1 && (std::strcmp(argv[0], "--help") == 0 || std::strcmp(argv[0], "-h") == 0)) {
        ResolveUsage(stdout);
        return 0;
    }
    ResolveArguments args;
    if (!ParseArguments(argc, argv, args)) {
        ResolveUsage(stderr);
        return 2;
    }
    const std::string configPath = FullPath(args.config);
    DWORD attributes = GetFileAttributesA(configPath.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        std::fprintf(stderr, "qxpilot resolve: cannot read configuration file %s\n", configPath.c_str());
        return 2;
    }

    std::fflush(stdout);
    theLogger.attach(GetStdHandle(STD_OUTPUT_HANDLE));

    // The daemon's road: load once, set the request's place and market, resolve.
    PilotingConfiguration config;
    LoadConfiguration(config, configPath.c_str());
    const PilotRequest& r = args.request;
    config.currentMarket = r.market;
    config.currentPlace = r.place;
    const std::string group = FieldText(r.group), isin = FieldText(r.isin), currency = FieldText(r.currency),
                      symbol = FieldText(r.symbol), creditClass = FieldText(r.creditClass),
                      underlying = FieldText(r.underlying);
    std::optional<std::string> value =
        ResolvePilotingValue(config, r.place, r.codeMiddle, r.market, group.c_str(), isin.c_str(), currency.c_str(),
                             symbol.c_str(), creditClass.c_str(), underlying.c_str());
    // The log part of the output ends here; the value follows.
    theLogger.close();
    if (!value) {
        // The daemon says nothing when the rule's key type is none it knows; say it here.
        PilotingKeyLookup found = LookUpPilotingKey(config.placeMarkets, r.place, r.market, group.c_str(),
                                                    creditClass.c_str(), underlying.c_str());
        if (found.key != nullptr)
            std::fprintf(stderr, "qxpilot resolve: key type [%s] is none of ISIN, ISIN_CURRENCY, KTVID, SYMBOL: "
                                 "the daemon sends nothing\n",
                         found.key->keyType.c_str());
        return 1;
    }
    std::printf("%s\n", value->c_str());
    std::fflush(stdout);
    return 0;
}

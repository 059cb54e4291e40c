// R2: hostile configuration files (binary bytes, huge values, exploding lists, thousands of sections, very
// long names, lines without "=", duplicate sections, random mutations) never crash, hang or corrupt the loader
// in-process, "qxpilot check-config" or "qxpilot resolve"; the model keeps its invariants and the log stays in
// whole lines. QX_HARDENING_FULL=1 raises the number of random mutations.
#include "daemon/config/ConfigLoader.h"
#include "daemon/config/ConfigText.h"
#include "tests/config/ConfigTestSupport.h"
#include "tests/hardening/HardeningSupport.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <random>

using namespace qxtest;
using ::testing::Contains;
using ::testing::HasSubstr;

namespace {

const char* const kBase =
    "; desk rules\r\n[General]\r\nOwner=Desk\r\n"
    "[Extension_Paris]\r\nPlace=25\r\nMarket=1,2\r\nQXExtension=.PA\r\nQXSymbol=ISIN\r\n"
    "[Extension_Paris_Bonds]\r\nPlace=25\r\nMarket=1,2\r\nCreditClass=OBL,DEFAULT\r\nQXExtension=.PA\r\n"
    "QXSymbol=ISIN_CURRENCY\r\n"
    "[Extension_Warrants]\r\nPlace=25\r\nGroup=WAR,TUR,DEFAULT\r\nQXSymbol=SYMBOL\r\nQXExtension=.PAW\r\n"
    "[Extension_Ktv]\r\nPlace=40\r\nUnderlying=DE0008469008,DEFAULT\r\nQXSymbol=KTVID\r\n"
    "[-Extension_Off]\r\nPlace=50\r\nQXSymbol=SYMBOL\r\n";

std::string List(int count, const std::string& prefix) {
    std::string list;
    for (int i = 0; i < count; ++i) {
        if (i) list += ',';
        list += prefix + std::to_string(i);
    }
    return list;
}

std::string RandomBytes(std::mt19937& rng, std::size_t count) {
    std::string bytes(count, '\0');
    for (char& c : bytes) c = static_cast<char>(rng() & 0xFF);
    return bytes;
}

// The model as the lookup relies on it: no empty table, keys within their limits, no place 0.
void ExpectModelInvariants(const PilotingConfiguration& config, const std::string& what) {
    std::size_t leaves = 0;
    for (const auto& [placeMarket, creditClasses] : config.placeMarkets) {
        EXPECT_NE(placeMarket.place, 0) << what;
        EXPECT_FALSE(creditClasses.empty()) << what;
        for (const auto& [creditClass, underlyings] : creditClasses) {
            EXPECT_LE(creditClass.size(), kCreditClassKeyLimit) << what;
            EXPECT_FALSE(underlyings.empty()) << what;
            for (const auto& [underlying, groups] : underlyings) {
                EXPECT_LE(underlying.size(), kUnderlyingKeyLimit) << what;
                EXPECT_FALSE(groups.empty()) << what;
                for (const auto& [group, key] : groups) {
                    EXPECT_LE(group.size(), kGroupKeyLimit) << what;
                    EXPECT_EQ(UpperAnsi(key.keyType), key.keyType) << what;
                    ++leaves;
                }
            }
        }
    }
    EXPECT_LE(leaves, kMaxCombinationsPerLoad) << what;
}

struct LoadOutcome {
    std::size_t placeMarkets = 0;
    std::vector<std::string> lines;  // tag, blank, text
    double seconds = 0;
};

// The daemon's loader in this process, its log captured.
LoadOutcome LoadInProcess(const std::string& file, const std::string& what) {
    LoadOutcome outcome;
    LogCapture capture;
    PilotingConfiguration config;
    auto start = std::chrono::steady_clock::now();
    LoadConfiguration(config, file.c_str());
    outcome.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    ExpectModelInvariants(config, what);
    outcome.placeMarkets = config.placeMarkets.size();
    outcome.lines = capture.lines();
    for (const std::string& line : outcome.lines) {
        EXPECT_NE(line.rfind("torn: ", 0), 0u) << what << ": " << line.substr(0, 100);
        if (line.rfind("torn: ", 0) == 0) break;
    }
    return outcome;
}

// check-config and resolve on the file as real processes: they end, with one of their documented statuses,
// and check-config's log lines are whole.
void ExpectToolsSurvive(const std::string& file, const std::string& what) {
    RunResult check = RunProgram(Quoted(BinPath("qxpilot.exe")) + " check-config " + Quoted(file),
                                 std::chrono::seconds(180));
    ASSERT_TRUE(check.finished) << what << ": check-config did not end";
    EXPECT_TRUE(check.exitCode == 0 || check.exitCode == 1) << what << ": check-config exit " << check.exitCode;
    std::size_t shown = 0;
    for (const std::string& line : SplitLines(check.output)) {
        if (line.rfind("qxpilot: ", 0) == 0 || IsWholeLogLine(line)) continue;
        ADD_FAILURE() << what << ": check-config printed a line that is not whole: " << line.substr(0, 100);
        if (++shown == 3) break;
    }
    RunResult resolve = RunProgram(Quoted(BinPath("qxpilot.exe")) + " resolve --config " + Quoted(file) +
                                       " --place 25 --market 1 --symbol ABC --isin FR0000120271 --currency EUR",
                                   std::chrono::seconds(180));
    ASSERT_TRUE(resolve.finished) << what << ": resolve did not end";
    EXPECT_TRUE(resolve.exitCode == 0 || resolve.exitCode == 1) << what << ": resolve exit " << resolve.exitCode;
}

TEST(CombinationBudget, ListItemsAreCountedAsTheLoaderSplitsThem) {
    struct Row {
        const char* value;
        std::uint64_t items;
    };
    const Row rows[] = {{"", 1}, {"A", 1}, {"A,B", 2}, {"A,", 1}, {",", 1}, {",,", 2}, {"1,,2", 3}, {",A", 2},
                        {" ", 1}, {"A, DEFAULT", 2}};
    for (const Row& row : rows) {
        EXPECT_EQ(CountListItems(row.value), row.items) << "[" << row.value << "]";
        // The same count as the items a real section gets.
        std::size_t split = 0;
        ListCursor cursor{row.value, ','};
        std::string item;
        while (NextListItem(cursor, item)) ++split;
        if (row.value[0] != '\0') {
            EXPECT_EQ(split, row.items) << "[" << row.value << "]";
        }
    }
    SectionValues values{{"MARKET", "1,2,3"}, {"GROUP", "A,B"}, {"CREDITCLASS", ""}, {"UNDERLYING", "X,Y,Z,W"}};
    EXPECT_EQ(SectionCombinations(values), 24u);
    // n commas in a row make n items (the last comma adds none).
    SectionValues huge{{"MARKET", std::string(10000, ',')}, {"GROUP", std::string(10000, ',')},
                       {"CREDITCLASS", std::string(10000, ',')}, {"UNDERLYING", std::string(10000, ',')}};
    EXPECT_EQ(SectionCombinations(huge), 10000000000000000ull);
    SectionValues overflowing = huge;
    for (auto& [key, value] : overflowing) value.assign(100000, ',');
    EXPECT_EQ(SectionCombinations(overflowing), UINT64_MAX);
}

TEST(CombinationBudget, ASectionBeyondWhatIsLeftIsSkippedAndReported) {
    LogCapture capture;
    PilotingConfiguration config;
    // 1,000 x 1,000 fits exactly; the next section then finds nothing left.
    SectionValues first{{"PLACE", "25"}, {"QXSYMBOL", "ISIN"}, {"MARKET", List(1000, "")}, {"GROUP", List(1000, "G")}};
    std::uint64_t used = ApplyRuleSection(config, "Extension_Big", first, kMaxCombinationsPerLoad);
    EXPECT_EQ(used, 1000000u);
    SectionValues second{{"PLACE", "26"}, {"QXSYMBOL", "ISIN"}};
    EXPECT_EQ(ApplyRuleSection(config, "Extension_Next", second, kMaxCombinationsPerLoad - used), 0u);
    EXPECT_EQ(config.placeMarkets.count(PlaceMarketKey{26, AnyMarket}), 0u);
    EXPECT_THAT(capture.lines(),
                Contains("EE Section [Extension_Next] skipped: its lists make 1 combinations of market, credit class, "
                         "underlying and group, more than the 0 left of the 1000000 a configuration may hold"));
}

TEST(CombinationBudget, AFewHundredBytesOfListsNoLongerExplode) {
    TempDir dir;
    const std::string file = dir.file("explode.dat");
    // 40^4 = 2,560,000 entries from 640 bytes; then a sound section that must still load.
    WriteFileText(file, "[Extension_X]\r\nPlace=25\r\nQXSymbol=ISIN\r\nMarket=" + List(40, "") + "\r\nCreditClass=" +
                            List(40, "C") + "\r\nUnderlying=" + List(40, "U") + "\r\nGroup=" + List(40, "G") +
                            "\r\n[Extension_Sound]\r\nPlace=30\r\nQXSymbol=SYMBOL\r\n");
    LoadOutcome outcome = LoadInProcess(file, "explode");
    EXPECT_EQ(outcome.placeMarkets, 1u);
    EXPECT_THAT(outcome.lines, Contains(HasSubstr("EE Section [Extension_X] skipped: its lists make 2560000 "
                                                  "combinations")));
    EXPECT_LT(outcome.lines.size(), 100u);
}

struct NastyFile {
    const char* name;
    std::function<std::string(std::mt19937&)> make;
};

std::vector<NastyFile> NastyFiles() {
    return {
        {"empty file", [](std::mt19937&) { return std::string(); }},
        {"64 KB of random bytes", [](std::mt19937& rng) { return RandomBytes(rng, 65536); }},
        {"random bytes after a UTF-16 mark",
         [](std::mt19937& rng) { return std::string("\xFF\xFE", 2) + RandomBytes(rng, 8192); }},
        {"UTF-16 text",
         [](std::mt19937&) {
             std::string wide("\xFF\xFE", 2);
             for (char c : std::string("[Extension_W]\r\nPlace=25\r\nQXSymbol=ISIN\r\n")) wide += std::string{c, '\0'};
             return wide;
         }},
        {"UTF-8 mark", [](std::mt19937&) { return "\xEF\xBB\xBF" + std::string(kBase); }},
        {"NUL bytes inside lines",
         [](std::mt19937&) {
             return std::string("[Extension_N]\r\nPla\0ce=25\r\nPlace=2\0" "5\r\nQXSymbol=IS\0IN\r\n", 50);
         }},
        {"one line of 1 MB without a line end",
         [](std::mt19937&) { return "[Extension_L]Place=25" + std::string(1 << 20, 'x'); }},
        {"extension of 1 MB",
         [](std::mt19937&) {
             return "[Extension_E]\r\nPlace=25\r\nQXSymbol=SYMBOL\r\nQXExtension=" + std::string(1 << 20, 'E') + "\r\n";
         }},
        {"group list of 200,000 items",
         [](std::mt19937&) {
             return "[Extension_G]\r\nPlace=25\r\nMarket=1\r\nQXSymbol=ISIN\r\nGroup=DEFAULT," + List(200000, "g") + "\r\n";
         }},
        {"lists exploding to billions of entries",
         [](std::mt19937&) {
             std::string many(60000, ',');
             return "[Extension_B]\r\nPlace=25\r\nQXSymbol=ISIN\r\nMarket=" + many + "\r\nCreditClass=" + many +
                    "\r\nUnderlying=" + many + "\r\nGroup=" + many + "\r\n" + kBase;
         }},
        {"numbers beyond 32 bits",
         [](std::mt19937&) {
             return std::string("[Extension_Num]\r\nPlace=99999999999999999999\r\nMarket=-99999999999,+7,-,+,"
                                "4294967297\r\nQXSymbol=KTVID\r\n[Extension_Neg]\r\nPlace=-2147483648\r\n");
         }},
        {"5,000 sections",
         [](std::mt19937&) {
             std::string text;
             for (int i = 0; i < 5000; ++i)
                 text += "[Extension_" + std::to_string(i) + "]\r\nPlace=" + std::to_string(i % 300 + 1) +
                         "\r\nMarket=" + std::to_string(i % 7) + "\r\nQXSymbol=ISIN\r\n";
             return text;
         }},
        // Wine's profile reader searches its section list linearly on every call: 20,000 sections take
        // seconds, 60,000 (the full run) most of a minute.
        {"tens of thousands of empty rule sections",
         [](std::mt19937&) {
             std::string text;
             for (int i = 0, n = RunCount(20000, 60000); i < n; ++i)
                 text += "[Extension_" + std::to_string(i) + "]\r\n";
             return text + kBase;
         }},
        {"section name of 10,000 characters",
         [](std::mt19937&) {
             return "[Extension_" + std::string(10000, 'N') + "]\r\nPlace=25\r\nQXSymbol=ISIN\r\n" + kBase;
         }},
        {"key name of 10,000 characters",
         [](std::mt19937&) {
             return "[Extension_K]\r\n" + std::string(10000, 'K') + "=1\r\nPlace=25\r\nQXSymbol=ISIN\r\n" +
                    std::string(300, 'P') + "LACE=3\r\n";
         }},
        {"lines without = and with nothing before it",
         [](std::mt19937&) {
             return std::string("[Extension_Eq]\r\nPlace 25\r\n=25\r\n==\r\nPlace\r\nPlace==25\r\nQXSymbol=ISIN\r\n"
                                "Market=1=2\r\n[Extension_Eq2]\r\nPlace=26\r\n=\r\n");
         }},
        {"duplicate sections and keys",
         [](std::mt19937&) {
             return std::string("[Extension_D]\r\nPlace=25\r\nQXSymbol=ISIN\r\nQXExtension=.A\r\n"
                                "[Extension_D]\r\nPlace=25\r\nQXSymbol=SYMBOL\r\nQXExtension=.B\r\nPlace=26\r\n"
                                "[extension_d]\r\nPlace=27\r\n[Extension_D]\r\n") +
                    kBase + kBase;
         }},
        {"broken section headers",
         [](std::mt19937&) {
             return std::string("[Extension_Open\r\nPlace=25\r\n]Extension]\r\n[]\r\n[[Extension]]\r\nPlace=26\r\n"
                                "[ Extension_Blank ]\r\nPlace=27\r\nQXSymbol=isin\r\n[Old,Extension_Comma]\r\n"
                                "Place=28\r\n[,,,]\r\n[Extension,]\r\nPlace=29\r\n");
         }},
        {"control characters and high bytes in keys and values",
         [](std::mt19937&) {
             return std::string("[Extension_\x01\x7f\xe9\xff]\r\nPlace=25\r\nQXSymbol=\xe9sin\r\nGroup=\x01,\xff\xfe,"
                                "\t,DEFAULT\r\nCreditClass=%s%n%x,DEFAULT\r\nQXExtension=\x1b[31m\r\n");
         }},
    };
}

TEST(HostileConfiguration, NastyFilesLoadWithoutHarm) {
    std::mt19937 rng(HardeningSeed("R2 nasty files"));
    TempDir dir;
    std::size_t cases = 0;
    double slowest = 0;
    std::string slowestName;
    for (const NastyFile& nasty : NastyFiles()) {
        SCOPED_TRACE(nasty.name);
        const std::string file = dir.file("nasty.dat");
        WriteFileText(file, nasty.make(rng));
        LoadOutcome outcome = LoadInProcess(file, nasty.name);
        if (outcome.seconds > slowest) slowest = outcome.seconds, slowestName = nasty.name;
        auto start = std::chrono::steady_clock::now();
        ExpectToolsSurvive(file, nasty.name);
        std::printf("%-60s in-process %.2f s, %zu log lines; check-config and resolve %.2f s\n", nasty.name,
                    outcome.seconds, outcome.lines.size(),
                    std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
        ++cases;
    }
    Figure("R2 nasty files: %zu kinds (binary, UTF-16, 1 MB values and lines, 200,000-item and exploding lists, "
           "tens of thousands of sections, 10,000-character names...) through the loader, check-config and resolve, no crash; "
           "slowest in-process load %.2f s (%s)",
           cases, slowest, slowestName.c_str());
}

// Random edits of a sound file: bytes changed, inserted (line breaks, brackets, "=", commas, NUL) and removed,
// runs repeated.
std::string Mutate(std::mt19937& rng, std::string text) {
    auto pick = [&](std::size_t high) { return std::uniform_int_distribution<std::size_t>(0, high)(rng); };
    static const char kSpecial[] = "\r\n[]=,;-\0\xff ";
    int edits = 1 + static_cast<int>(pick(20));
    for (int e = 0; e < edits; ++e) {
        std::size_t at = text.empty() ? 0 : pick(text.size() - 1);
        switch (pick(5)) {
        case 0: if (!text.empty()) text[at] = static_cast<char>(rng() & 0xFF); break;
        case 1: text.insert(at, 1, kSpecial[pick(sizeof kSpecial - 2)]); break;
        case 2: text.erase(at, pick(20)); break;
        case 3: text.insert(at, text.substr(at, pick(200))); break;
        case 4: text.insert(at, std::string(pick(3000), static_cast<char>(pick(1) ? ',' : 'A'))); break;
        default: text.insert(at, RandomBytes(rng, pick(64))); break;
        }
    }
    return text;
}

TEST(HostileConfiguration, RandomMutationsLoadWithoutHarm) {
    std::mt19937 rng(HardeningSeed("R2 mutations"));
    TempDir dir;
    const int inProcess = RunCount(300, 5000);
    const int throughTools = RunCount(12, 200);
    std::size_t loadedSomething = 0;
    for (int i = 0; i < inProcess; ++i) {
        const std::string file = dir.file("mutated.dat");
        WriteFileText(file, Mutate(rng, kBase));
        LoadOutcome outcome = LoadInProcess(file, "mutation " + std::to_string(i));
        if (outcome.placeMarkets > 0) ++loadedSomething;
        if (i < throughTools) ExpectToolsSurvive(file, "mutation " + std::to_string(i));
        if (HasFailure()) {
            std::printf("failing file kept as %s\n", file.c_str());
            break;
        }
    }
    Figure("R2 random mutations: %d files through the loader in-process (%zu still held rules), %d of them also "
           "through check-config and resolve; no crash, model invariants held, whole log lines",
           inProcess, loadedSomething, throughTools);
}

}  // namespace

// Window-kind names and the piloting-module registry.
#include "daemon/piloting/ModuleRegistry.h"
#include "daemon/piloting/WindowKind.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

struct KindCase {
    const char* name;
    WindowKind kind;
};

const KindCase kKinds[] = {
    {"All", WindowKind::All},           {"all", WindowKind::All},
    {"ALL", WindowKind::All},           {"aLl", WindowKind::All},
    {"Vista", WindowKind::Vista},       {"VISTA", WindowKind::Vista},
    {"FullQuote", WindowKind::FullQuote}, {"fullquote", WindowKind::FullQuote},
    {"OrderBook", WindowKind::OrderBook}, {"ORDERBOOK", WindowKind::OrderBook},
    {"TimeSales", WindowKind::TimeSales}, {"timesales", WindowKind::TimeSales},
    {"News", WindowKind::News},         {"nEWS", WindowKind::News},
    {"Chart", WindowKind::Chart},       {"chart", WindowKind::Chart},
    // Whole names only, no trimming.
    {"News ", WindowKind::None},        {" News", WindowKind::None},
    {"New", WindowKind::None},          {"Newsx", WindowKind::None},
    {"Full Quote", WindowKind::None},   {"Time&Sales", WindowKind::None},
    {"", WindowKind::None},             {"None", WindowKind::None},
    {"0", WindowKind::None},            {"-1", WindowKind::None},
    // Only ASCII letters fold: a Latin-1 capital is not its lower-case letter.
    {"Ch\xC4rt", WindowKind::None},
};

TEST(WindowKind, CodesOfTheNames) {
    for (const KindCase& c : kKinds)
        EXPECT_EQ(WindowKindFromName(c.name), c.kind) << "[" << c.name << "]";
    EXPECT_EQ(WindowKindFromName(nullptr), WindowKind::None);
}

TEST(WindowKind, TheTerminalsCodes) {
    EXPECT_EQ(static_cast<int>(WindowKind::All), -1);
    EXPECT_EQ(static_cast<int>(WindowKind::None), 0);
    EXPECT_EQ(static_cast<int>(WindowKind::Vista), 1);
    EXPECT_EQ(static_cast<int>(WindowKind::FullQuote), 2);
    EXPECT_EQ(static_cast<int>(WindowKind::OrderBook), 3);
    EXPECT_EQ(static_cast<int>(WindowKind::TimeSales), 4);
    EXPECT_EQ(static_cast<int>(WindowKind::News), 5);
    EXPECT_EQ(static_cast<int>(WindowKind::Chart), 6);
}

// One registration: module, kind name, expected result.
struct Step {
    const char* module;
    const char* kind;
    bool accepted;
};

struct RegistryCase {
    const char* name;
    std::vector<Step> steps;
    ModuleRegistry expected;
};

const std::vector<RegistryCase>& RegistryCases() {
    static const std::vector<RegistryCase> cases = {
        {"AllInAnyCase", {{"M", "all", true}, {"M", "ALL", true}, {"M", "All", true}}, {{"M", {-1}}}},
        {"AllComesFirst", {{"M", "News", true}, {"M", "All", true}}, {{"M", {-1, 5}}}},
        {"KindsAscend", {{"M", "Chart", true}, {"M", "Vista", true}, {"M", "OrderBook", true}}, {{"M", {1, 3, 6}}}},
        {"DuplicateAccepted", {{"M", "Chart", true}, {"M", "chart", true}}, {{"M", {6}}}},
        {"RefusedKindAddsNoModule", {{"New", "Gadget", false}}, {}},
        {"TrailingBlankRefused", {{"M", "News ", false}}, {}},
        {"RefusedKindLeavesModuleAlone", {{"M", "News", true}, {"M", "Newz", false}}, {{"M", {5}}}},
        {"EmptyKindRefused", {{"M", "", false}}, {}},
        {"ModuleNamesAreCaseSensitive",
         {{"Trader", "News", true}, {"trader", "Chart", true}, {"Trader", "Vista", true}},
         {{"Trader", {1, 5}}, {"trader", {6}}}},
        {"EmptyModuleName", {{"", "Vista", true}}, {{"", {1}}}},
        {"ModuleNameKeptAsReceived", {{" Trader ", "Vista", true}}, {{" Trader ", {1}}}},
    };
    return cases;
}

TEST(ModuleRegistry, Registrations) {
    for (const RegistryCase& c : RegistryCases()) {
        ModuleRegistry registry;
        for (const Step& step : c.steps)
            EXPECT_EQ(RegisterKind(registry, step.module, step.kind), step.accepted)
                << c.name << ": " << step.module << "/" << step.kind;
        EXPECT_EQ(registry, c.expected) << c.name;
    }
}

ModuleRegistry SharedRegistry() {
    CriticalSectionGuard guard(theProxyData.m_lock);
    return theProxyData.m_modules;
}

TEST(ModuleRegistry, SharedRegistryUnderTheLock) {
    ClearPilotingModules();
    EXPECT_TRUE(RegisterPilotingModule("Trader", "News"));
    EXPECT_TRUE(RegisterPilotingModule("Trader", "All"));
    EXPECT_FALSE(RegisterPilotingModule("Other", "Newspaper"));
    EXPECT_TRUE(RegisterPilotingModule("trader", "Chart"));
    ModuleRegistry registry = SharedRegistry();
    EXPECT_THAT(registry["Trader"], ElementsAre(-1, 5));
    EXPECT_THAT(registry["trader"], ElementsAre(6));
    EXPECT_EQ(registry.count("Other"), 0u);
    ClearPilotingModules();
    EXPECT_THAT(SharedRegistry(), IsEmpty());
}

TEST(ModuleRegistry, NullModuleNameIsTheEmptyName) {
    ModuleRegistry registry;
    EXPECT_TRUE(RegisterKind(registry, nullptr, "News"));
    EXPECT_EQ(registry, (ModuleRegistry{{"", {5}}}));
}

}  // namespace

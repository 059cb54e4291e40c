// Fixture of the whole-chain tests: a registered terminal simulator journaling into the test's folder, the
// piloting rules of the tests, a daemon and the client library. Everything started is stopped at the end.
#pragma once

#include "daemon/proxy/ComError.h"
#include "tests/chain/ChainSupport.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <optional>

namespace qxtest {

class ChainSessionTest : public ::testing::Test, protected SimulatorSession {
protected:
    void SetUp() override {
        EndStrayProcesses();
        WriteFileText(configFile, ChainConfigurationText());
        registration = std::make_unique<SimulatorRegistration>(std::vector<std::string>{"--journal", journal});
        ASSERT_TRUE(registration->ok()) << registration->output();
        ASSERT_TRUE(client.loaded());
    }

    void TearDown() override {
        if (HasFailure()) {
            std::printf("---- log\n%s---- journal\n%s----\n", ReadFileText(FindLogFile(logDir.path())).c_str(),
                        ReadFileText(journal).c_str());
        }
        const bool daemonRunning = daemon.process().running();
        const std::optional<DWORD> stopped = EndSessionProcesses(daemon, simulator);
        if (daemonRunning) {
            EXPECT_EQ(stopped, 0u);
        }
        registration.reset();
    }

    // A terminal started by hand: the daemon attaches to it.
    void StartSimulator(const std::vector<std::string>& options = {}) {
        ASSERT_TRUE(simulator.start(journal, options)) << "Velo.exe did not come up";
    }
    void StartDaemon() { ASSERT_TRUE(daemon.startWithLog(logDir.path())) << "daemon did not come up"; }
    void Start() { ASSERT_EQ(client.StartQuodrix("127.0.0.1", 7001, configFile), 0); }
    void AddModule(const std::string& name, const std::string& kind) {
        ASSERT_EQ(client.AddPilotingModule(name, kind), 0);
    }
    void Pilot(const ClientLibrary::Instrument& instrument) { ASSERT_EQ(client.PilotQuodrix(instrument), 0); }

    // Daemon, simulator, start request and modules (name, kind).
    void Prepare(const std::vector<std::string>& simulatorOptions,
                 const std::vector<std::pair<std::string, std::string>>& modules) {
        StartSimulator(simulatorOptions);
        StartDaemon();
        Start();
        for (const auto& [name, kind] : modules) AddModule(name, kind);
    }

    std::vector<std::string> Log() { return LogTexts(logDir.path()); }

    ClientLibrary client;
};

}  // namespace qxtest

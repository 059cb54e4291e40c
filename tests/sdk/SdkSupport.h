// Running the programs of both architectures: where the x86 build lies, whether x86 code can run here, the
// table of export calls recorded from a program, and one whole session through qxpilot against the simulator.
#pragma once

#include "tests/client/RecordingReceiver.h"
#include "tests/support/TestSupport.h"

#include <string>
#include <vector>

namespace qxtest {

// Set by the build from scripts/x86-support.sh: the kernel runs 32-bit programs and a 32-bit Wine is there.
inline constexpr bool kX86Runnable = QX_X86_RUNNABLE != 0;
inline constexpr const char kX86Unavailable[] =
    "this machine cannot run 32-bit programs (kernel without 32-bit emulation or no wine32:i386): the x86 "
    "binaries are built and checked statically only";

// A program of the x64 build (beside the tests) or of the x86 build (build/x86/bin).
std::string ArchPath(const std::string& arch, const std::string& fileName);

struct RecordedRun {
    RunResult run;
    std::vector<ReceivedRequest> requests;
};
// Runs `program` (qxsdk_calls of one architecture) against a recording window of the daemon's class.
RecordedRun RecordCallsProgram(const std::string& program);

// Runs qxsdk_callconv of `arch`: every export resolved by its undecorated name, the stack pointer the same
// after each call as before. Assertions inside.
void ExpectEveryCallKeepsTheStackPointer(const std::string& arch);

// One whole session: `qxpilot` starts `daemon`, sends start, add-module and pilot, and stops it; the terminal
// simulator, registered for the session, journals what reached its windows. Assertions inside.
void RunMixedSession(const std::string& qxpilot, const std::string& daemon);

}  // namespace qxtest

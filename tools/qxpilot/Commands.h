// Subcommands of qxpilot; each one lives in its own file and returns the process exit status.
#pragma once

// Client library commands (start-daemon, start, add-module, pilot, stop, last-error), through IQXPilotSt.dll.
int RunClientCommand(const char* command, int argc, char** argv);
// check-config FILE
int RunCheckConfig(int argc, char** argv);
// resolve --config FILE --place P --market M [...]
int RunResolve(int argc, char** argv);

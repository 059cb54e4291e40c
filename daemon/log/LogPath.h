#pragma once

#include <string>

// The log directory named by "-log_path=" on the daemon's command line (the text after the program's
// name), or the empty text.
std::string ParseLogPath(const char* commandLine);

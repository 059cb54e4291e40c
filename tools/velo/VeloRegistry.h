// Per-user registration of the simulator: the class, its local server command line, the type library.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace velo {

// `program` is the full path of Velo.exe; `arguments` are recorded after it in LocalServer32.
HRESULT RegisterServer(const std::string& program, const std::vector<std::string>& arguments);
HRESULT UnregisterServer();

// The LocalServer32 command line: the program quoted, then each argument quoted as needed.
std::string ServerCommandLine(const std::string& program, const std::vector<std::string>& arguments);

}  // namespace velo

// One piloting pass over the terminal's window groups and windows (CQXLink::Pilot and its steps).
// Every step raises a failing terminal call as a ComError; CQXLink::Pilot decides what each failure costs.
#pragma once

#include "daemon/proxy/ComPtr.h"
#include "daemon/proxy/ProxyData.h"

#include "QuodrixLib.h"

#include <string>

// The group named `moduleName` (byte-wise; the last matching row of the list wins), created when there is
// none and `mayCreate` is set; null when there is none.
ComHelper::ComPtr<IGroup> FindGroup(IApplication* app, const std::string& moduleName, bool mayCreate);

// Adds to a group's windows one window of each of the module's kinds that the group lacks (none for an
// all-windows module), each with the window properties array.
void CreateMissingWindows(IWindows* windows, const WindowKindSet& kinds);

// Sends the value to one window through its kind's interface (News with an empty text first). False when
// the window's kind has no piloting interface; true, with nothing sent, when the window lacks its kind's
// interface.
bool PilotWindow(IWindow* window, const std::string& value);

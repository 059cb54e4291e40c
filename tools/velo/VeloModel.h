// The simulated terminal's window groups and windows. Plain data, no locking: the COM layer holds the lock.
#pragma once

#include <string>
#include <vector>

namespace velo {

struct WindowState {
    std::wstring key;       // "G1W1"
    long kind = 0;
    std::string settings;   // as journaled
    long pilotCount = 0;
    std::wstring lastValue;
};

struct GroupState {
    std::wstring name;
    std::wstring key;       // "G1"
    std::vector<WindowState> windows;
    unsigned nextWindow = 1;
};

class TerminalModel {
public:
    GroupState& addGroup(const std::wstring& name);
    // Nothing when the group does not exist.
    WindowState* addWindow(const std::wstring& groupKey, long kind, const std::string& settings);

    GroupState* group(const std::wstring& key);
    WindowState* window(const std::wstring& key);
    const std::vector<GroupState>& groups() const { return m_groups; }

    std::wstring activeGroup;

private:
    std::vector<GroupState> m_groups;
    unsigned m_nextGroup = 1;
};

}  // namespace velo

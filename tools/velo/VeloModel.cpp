#include "tools/velo/VeloModel.h"

namespace velo {

GroupState& TerminalModel::addGroup(const std::wstring& name) {
    GroupState group;
    group.name = name;
    group.key = L"G" + std::to_wstring(m_nextGroup++);
    m_groups.push_back(std::move(group));
    return m_groups.back();
}

WindowState* TerminalModel::addWindow(const std::wstring& groupKey, long kind, const std::string& settings) {
    GroupState* owner = group(groupKey);
    if (owner == nullptr) return nullptr;
    WindowState window;
    window.key = owner->key + L"W" + std::to_wstring(owner->nextWindow++);
    window.kind = kind;
    window.settings = settings;
    owner->windows.push_back(std::move(window));
    return &owner->windows.back();
}

GroupState* TerminalModel::group(const std::wstring& key) {
    for (auto& g : m_groups)
        if (g.key == key) return &g;
    return nullptr;
}

WindowState* TerminalModel::window(const std::wstring& key) {
    for (auto& g : m_groups)
        for (auto& w : g.windows)
            if (w.key == key) return &w;
    return nullptr;
}

}  // namespace velo

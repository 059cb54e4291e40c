#include "client/ClientCore.h"

#include <cstdio>

namespace {

// Appends with a cut: the buffer always holds at most its size minus one characters and a terminator.
class CommandLineWriter {
public:
    explicit CommandLineWriter(std::array<char, kCommandLineSize>& buffer) noexcept : m_buffer(buffer) {
        m_buffer[0] = '\0';
    }
    void append(const char* text) noexcept {
        if (text == nullptr) return;
        while (*text != '\0' && m_length + 1 < m_buffer.size()) m_buffer[m_length++] = *text++;
        m_buffer[m_length] = '\0';
    }

private:
    std::array<char, kCommandLineSize>& m_buffer;
    std::size_t m_length = 0;
};

}  // namespace

DaemonLaunch ComposeDaemonLaunch(const char* exePath, const char* logDir) noexcept {
    DaemonLaunch launch;
    // No directory: no option at all, and the daemon logs into the current directory it inherits.
    if (logDir == nullptr) return launch;
    launch.useCommandLine = true;
    CommandLineWriter line(launch.commandLine);
    line.append("\"");
    line.append(exePath);
    line.append("\" ");
    // The directory goes in unchanged: a caller who wants blanks kept quotes it.
    line.append("-log_path=");
    line.append(logDir);
    return launch;
}

std::uint32_t StandardIntegrityLevel(std::uint32_t callerLevel) noexcept {
    // Never label the daemon above its caller: the first level from the top that the caller reaches.
    static constexpr std::uint32_t kLevels[] = {0x5000, 0x4000, 0x3000, 0x2100, 0x2000, 0x1000};
    for (std::uint32_t level : kLevels) {
        if (callerLevel >= level) return level;
    }
    return 0;
}

std::string IntegritySidTextForLevel(std::uint32_t callerLevel) {
    char number[512];
    std::snprintf(number, sizeof number, "%lu", static_cast<unsigned long>(StandardIntegrityLevel(callerLevel)));
    std::string text = "S-1-16-";
    text += number;
    return text;
}

std::int32_t DaemonServesAfterEnd(bool controlWindowFound) noexcept {
    // The usual case is a second daemon that found one running and left: what the caller needs holds. The
    // thread's error after the waits tells nothing about either outcome.
    SetLastSystemError(0);
    return controlWindowFound ? kClientOk : kClientNotIdle;
}

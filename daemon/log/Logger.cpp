#include "daemon/log/Logger.h"

#include "daemon/log/LogFormat.h"

#include <cstdio>
#include <cstring>
#include <ctime>
#include <new>

Logger theLogger;

namespace {

// Holds an exclusive byte-range lock on the whole file for one write, so that lines of two daemons
// sharing a file never interleave or overwrite each other.
class FileRangeLock {
public:
    explicit FileRangeLock(HANDLE file) noexcept : m_file(file) {
        m_locked = LockFileEx(m_file, LOCKFILE_EXCLUSIVE_LOCK, 0, MAXDWORD, MAXDWORD, &m_overlapped) != FALSE;
    }
    ~FileRangeLock() {
        if (m_locked) UnlockFileEx(m_file, 0, MAXDWORD, MAXDWORD, &m_overlapped);
    }
    FileRangeLock(const FileRangeLock&) = delete;
    FileRangeLock& operator=(const FileRangeLock&) = delete;

private:
    HANDLE m_file;
    OVERLAPPED m_overlapped{};
    bool m_locked = false;
};

// Holds the logger's writer lock for one scope.
class WriteLockHold {
public:
    explicit WriteLockHold(SRWLOCK& lock) noexcept : m_lock(lock) { AcquireSRWLockExclusive(&m_lock); }
    ~WriteLockHold() { ReleaseSRWLockExclusive(&m_lock); }
    WriteLockHold(const WriteLockHold&) = delete;
    WriteLockHold& operator=(const WriteLockHold&) = delete;

private:
    SRWLOCK& m_lock;
};

}  // namespace

Logger::~Logger() { close(); }

void Logger::beginBatch() {
    WriteLockHold hold(m_writeLock);
    DWORD self = GetCurrentThreadId();
    if (m_batchDepth > 0) {
        if (m_batchThread == self) ++m_batchDepth;
        return;
    }
    if (!m_batch) {
        // Without the memory the lines are simply written one by one.
        m_batch.reset(new (std::nothrow) char[kBatchSize]);
        if (!m_batch) return;
    }
    m_batchThread = self;
    m_batchDepth = 1;
    m_batchUsed = 0;
}

void Logger::endBatch() {
    WriteLockHold hold(m_writeLock);
    if (m_batchDepth == 0 || m_batchThread != GetCurrentThreadId()) return;
    if (--m_batchDepth > 0) return;
    flushBatch();
    m_batchThread = 0;
}

bool Logger::flushBatch() {
    if (m_batchUsed == 0) return true;
    bool written = writeBlock(m_batch.get(), m_batchUsed);
    m_batchUsed = 0;
    return written;
}

void Logger::close() {
    {
        // Gathered lines go out before the closing line, and the file never outlives them.
        WriteLockHold hold(m_writeLock);
        if (isOpen()) flushBatch();
        m_batchUsed = 0;
        m_batchDepth = 0;
        m_batchThread = 0;
    }
    if (!isOpen()) return;
    // An attached stream (a tool's standard output) is not ours to announce closing.
    if (m_owned) message(LogInfo, "Closing log file.");
    if (m_owned) CloseHandle(m_file);
    m_file = INVALID_HANDLE_VALUE;
    m_owned = false;
    m_path[0] = '\0';
}

std::string Logger::path() const { return m_path; }

void Logger::attach(HANDLE handle) {
    close();
    if (handle == nullptr || handle == INVALID_HANDLE_VALUE) return;
    m_file = handle;
    m_owned = false;
    m_warnings = 0;
}

void Logger::open(const char* directory) {
    close();

    std::time_t now = std::time(nullptr);
    std::tm date{};
    localtime_s(&date, &now);
    std::string name = LogFileName(directory ? directory : "", date.tm_year + 1900, date.tm_mon + 1, date.tm_mday);

    HANDLE file = CreateFileA(name.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return;
    m_file = file;
    m_owned = true;
    m_warnings = 0;
    DWORD full = GetFullPathNameA(name.c_str(), sizeof m_path, m_path, nullptr);
    if (full == 0 || full >= sizeof m_path) lstrcpynA(m_path, name.c_str(), sizeof m_path);

    now = std::time(nullptr);
    std::tm started{};
    localtime_s(&started, &now);
    std::string startedText = ProcessStartedText(started.tm_year + 1900, started.tm_mon + 1, started.tm_mday,
                                                 started.tm_hour, started.tm_min, started.tm_sec);
    SYSTEMTIME clock{};
    GetLocalTime(&clock);

    static constexpr char kRule[] = "#--------------------------------------------";
    message(LogInfo, "<start-header>");
    plainLine("%s", kRule);
    plainLine("# Product Name          : [%s]", "qxpilotst");
    plainLine("#");
    plainLine("# ProcessID             : [%d]", static_cast<int>(GetCurrentProcessId()));
    plainLine("# Process Started       : [%s]", startedText.c_str());
    plainLine("%s", kRule);
    plainLine("# QXPilot - Quodrix piloting service - (c) %04d", clock.wYear);
    plainLine("%s", kRule);
    plainLine("<end-header>");
}

bool Logger::message(int severity, const char* format, ...) {
    if (!isOpen()) return false;
    SYSTEMTIME now{};
    GetLocalTime(&now);
    char prefix[kLogPrefixSize];
    FormatMessagePrefix(prefix, severity, now);
    if (severity >= LogWarning && severity <= LogFatal) ++m_warnings;
    va_list args;
    va_start(args, format);
    bool written = writeLine(prefix, format, args);
    va_end(args);
    return written;
}

bool Logger::trace(int level, const char* format, ...) {
    if (!isOpen()) return false;
    SYSTEMTIME now{};
    GetLocalTime(&now);
    char prefix[kLogPrefixSize];
    FormatTracePrefix(prefix, level, now);
    va_list args;
    va_start(args, format);
    bool written = writeLine(prefix, format, args);
    va_end(args);
    return written;
}

bool Logger::plainLine(const char* format, ...) {
    if (!isOpen()) return false;
    va_list args;
    va_start(args, format);
    bool written = writeLine("                  ", format, args);
    va_end(args);
    return written;
}

bool Logger::writeLine(const char* prefix, const char* format, va_list args) {
    // One buffer, one WriteFile: prefix, text and CR LF reach the file together or not at all.
    char text[kLogTextSize];
    int length = FormatLogText(text, format, args);
    if (length < 0) return false;

    char line[kLogPrefixSize + kLogTextSize + 2];
    std::size_t prefixLength = strnlen(prefix, kLogPrefixSize - 1);
    std::memcpy(line, prefix, prefixLength);
    std::memcpy(line + prefixLength, text, static_cast<std::size_t>(length));
    std::size_t total = prefixLength + static_cast<std::size_t>(length);
    line[total++] = '\r';
    line[total++] = '\n';

    WriteLockHold hold(m_writeLock);
    if (!isOpen()) return false;
    if (m_batchDepth > 0) {
        if (m_batchThread == GetCurrentThreadId()) {
            if (m_batchUsed + total > kBatchSize && !flushBatch()) return false;
            if (total <= kBatchSize) {
                std::memcpy(m_batch.get() + m_batchUsed, line, total);
                m_batchUsed += total;
                return true;
            }
        } else if (!flushBatch()) {
            return false;
        }
    }
    return writeBlock(line, total);
}

bool Logger::writeBlock(const char* data, std::size_t size) {
    DWORD written = 0;
    if (m_owned) {
        // Another daemon may share the file: each block lands whole at its end.
        FileRangeLock rangeLock(m_file);
        LARGE_INTEGER end{};
        SetFilePointerEx(m_file, end, nullptr, FILE_END);
        return WriteFile(m_file, data, static_cast<DWORD>(size), &written, nullptr) && written == size;
    }
    return WriteFile(m_file, data, static_cast<DWORD>(size), &written, nullptr) && written == size;
}

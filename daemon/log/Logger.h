// The daemon's one log writer.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstddef>
#include <memory>
#include <string>

enum LogSeverity : int {
    LogInfo = 0,
    LogWarning = 1,
    LogError = 2,
    LogFatal = 3,
};

#define QX_PRINTF_FORMAT(fmt, args) __attribute__((format(gnu_printf, fmt, args)))

class Logger {
public:
    constexpr Logger() noexcept = default;
    Logger(const Logger&) = delete;
    Logger& operator=(const Logger&) = delete;
    ~Logger();

    // Opens (creating if missing) the run's log file in `directory` and writes the header.
    // On failure the logger stays closed and every writer returns false.
    void open(const char* directory);

    // Writes to an already open handle that the logger does not own (standard output, for the tools).
    void attach(HANDLE handle);

    bool message(int severity, const char* format, ...) QX_PRINTF_FORMAT(3, 4);
    bool trace(int level, const char* format, ...) QX_PRINTF_FORMAT(3, 4);
    bool plainLine(const char* format, ...) QX_PRINTF_FORMAT(2, 3);

    bool isOpen() const noexcept { return m_file != INVALID_HANDLE_VALUE; }
    // Full path of the file opened by open(), empty otherwise.
    std::string path() const;
    // Number of message() lines written at LogWarning or above since the logger was opened or attached.
    long warningCount() const noexcept { return m_warnings.load(); }

    // Closes the file opened by open(), with its closing line; an attached handle is only let go.
    void close();

    // Between beginBatch() and endBatch() (see LogBatch) the calling thread's lines are gathered in memory and
    // reach the file in blocks of whole lines, each block one write under the byte-range lock: under Wine the
    // lock costs far more than the write, and a configuration dump writes hundreds of thousands of lines.
    // A line of another thread first flushes the gathered lines, so the file keeps the order of the calls.
    // Nested batches of the same thread join the outer one; another thread's batch request is not granted.
    void beginBatch();
    void endBatch();

    static constexpr std::size_t kBatchSize = 64 * 1024;

private:
    bool writeLine(const char* prefix, const char* format, va_list args);
    // With m_writeLock held.
    bool writeBlock(const char* data, std::size_t size);
    bool flushBatch();

    HANDLE m_file = INVALID_HANDLE_VALUE;
    bool m_owned = false;
    std::atomic<long> m_warnings{0};
    SRWLOCK m_writeLock = SRWLOCK_INIT;  // keeps the lines of this process's threads apart
    char m_path[MAX_PATH * 2] = {};
    // Batch state, under m_writeLock.
    DWORD m_batchThread = 0;
    int m_batchDepth = 0;
    std::unique_ptr<char[]> m_batch;
    std::size_t m_batchUsed = 0;
};

// Gathers the calling thread's log lines for the life of the object (see Logger::beginBatch).
class LogBatch {
public:
    explicit LogBatch(Logger& logger) : m_logger(logger) { m_logger.beginBatch(); }
    ~LogBatch() { m_logger.endBatch(); }
    LogBatch(const LogBatch&) = delete;
    LogBatch& operator=(const LogBatch&) = delete;

private:
    Logger& m_logger;
};

extern Logger theLogger;

#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <mutex>
#include <ostream>
#include <string>
#include <thread>

// Writes lines to a stream from a thread of its own, so that a slow reader of the stream
// (the journal behind standard error) holds no request up. Lines wait in a bounded queue;
// when it is full, lines are dropped and counted, and the next line written says how many.
class LogWriter {
public:
    explicit LogWriter(std::ostream& out, std::size_t maxQueued = 4096);
    // Writes whatever is queued, then stops.
    ~LogWriter();
    LogWriter(const LogWriter&) = delete;
    LogWriter& operator=(const LogWriter&) = delete;

    // Queues one line (without its line break). Never waits on the stream.
    void post(std::string line);
    // Waits until every line queued so far is written and flushed.
    void flush();

private:
    void writeLines();

    std::ostream& m_out;
    const std::size_t m_maxQueued;
    std::mutex m_mutex;
    std::condition_variable m_queued;
    std::condition_variable m_written;
    std::deque<std::string> m_queue;
    std::size_t m_dropped = 0;
    bool m_writing = false;
    bool m_stopping = false;
    std::thread m_thread;
};

#include "logwriter.h"

#include <chrono>

LogWriter::LogWriter(std::ostream& out, std::size_t maxQueued)
    : m_out(out), m_maxQueued(maxQueued), m_thread([this] { writeLines(); }) {}

LogWriter::~LogWriter() {
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    m_queued.notify_one();
    m_thread.join();
}

void LogWriter::post(std::string line) {
    {
        std::lock_guard lock(m_mutex);
        if (m_queue.size() >= m_maxQueued) {
            ++m_dropped;
            return;
        }
        m_queue.push_back(std::move(line));
    }
    m_queued.notify_one();
}

void LogWriter::flush() {
    std::unique_lock lock(m_mutex);
    m_written.wait(lock, [this] { return m_queue.empty() && !m_writing; });
}

void LogWriter::writeLines() {
    std::unique_lock lock(m_mutex);
    for (;;) {
        m_queued.wait(lock, [this] { return !m_queue.empty() || m_stopping; });
        if (m_queue.empty())
            return; // stopping, with everything written
        // Everything queued goes in one batch, the lock released while the stream works.
        std::deque<std::string> batch;
        batch.swap(m_queue);
        std::size_t dropped = m_dropped;
        m_dropped = 0;
        m_writing = true;
        lock.unlock();
        for (const std::string& line : batch)
            m_out << line << '\n';
        if (dropped > 0)
            m_out << dropped << " log lines dropped: the log could not keep up\n";
        m_out.flush();
        // A moment for lines to gather: under load one wake-up then writes many, and
        // posting a line rarely has a sleeping writer to wake.
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
        lock.lock();
        m_writing = false;
        m_written.notify_all();
    }
}

#include "logwriter.h"

#include <chrono>
#include <utility>

LogWriter::LogWriter(std::ostream& out, std::size_t maxQueued, std::size_t maxReserved)
    : m_out(out), m_maxQueued(maxQueued), m_maxReserved(maxReserved),
      m_thread([this] { writeLines(); }) {}

LogWriter::~LogWriter() {
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    m_queued.notify_one();
    m_thread.join();
}

LogWriter::Reservation::Reservation(Reservation&& other) noexcept
    : m_writer(std::exchange(other.m_writer, nullptr)) {}

LogWriter::Reservation& LogWriter::Reservation::operator=(Reservation&& other) noexcept {
    if (this != &other) {
        if (m_writer)
            m_writer->giveBack();
        m_writer = std::exchange(other.m_writer, nullptr);
    }
    return *this;
}

LogWriter::Reservation::~Reservation() {
    if (m_writer)
        m_writer->giveBack();
}

std::optional<LogWriter::Reservation> LogWriter::reserve() {
    std::lock_guard lock(m_mutex);
    if (m_reserved >= m_maxReserved)
        return std::nullopt;
    ++m_reserved;
    return Reservation(this);
}

void LogWriter::giveBack() {
    std::lock_guard lock(m_mutex);
    --m_reserved;
}

void LogWriter::post(std::string line) {
    {
        std::lock_guard lock(m_mutex);
        if (m_ordinary >= m_maxQueued) {
            ++m_dropped;
            ++m_droppedTotal;
            return;
        }
        ++m_ordinary;
        m_queue.push_back({std::move(line), false});
    }
    m_queued.notify_one();
}

void LogWriter::post(std::string line, Reservation reservation) {
    // The place goes with the line: it is given back once the line is written.
    reservation.m_writer = nullptr;
    {
        std::lock_guard lock(m_mutex);
        m_queue.push_back({std::move(line), true});
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
        std::deque<Line> batch;
        batch.swap(m_queue);
        std::size_t dropped = std::exchange(m_dropped, 0);
        m_ordinary = 0;
        m_writing = true;
        lock.unlock();
        std::size_t reserved = 0;
        for (const Line& line : batch) {
            m_out << line.text << '\n';
            reserved += line.reserved;
        }
        if (dropped > 0)
            m_out << dropped << " log lines dropped: the log could not keep up\n";
        m_out.flush();
        // A moment for lines to gather: under load one wake-up then writes many, and
        // posting a line rarely has a sleeping writer to wake.
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
        lock.lock();
        m_reserved -= reserved;
        m_writing = false;
        m_written.notify_all();
    }
}

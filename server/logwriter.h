#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <ostream>
#include <string>
#include <thread>

// Writes lines to a stream from a thread of its own, so that a slow reader of the stream
// (the journal behind standard error) holds no request up. Lines wait in bounded queues.
// An ordinary line is dropped and counted when its queue is full, and the next line
// written says how many. A line with a reservation is never dropped: the place was held
// for it before the work it records began, and work that gets no place is not done.
class LogWriter {
public:
    explicit LogWriter(std::ostream& out, std::size_t maxQueued = 4096,
                       std::size_t maxReserved = 4096);
    // Writes whatever is queued, then stops.
    ~LogWriter();
    LogWriter(const LogWriter&) = delete;
    LogWriter& operator=(const LogWriter&) = delete;

    // A place held for one line; given back unused when it goes.
    class Reservation {
    public:
        Reservation(Reservation&& other) noexcept;
        Reservation& operator=(Reservation&& other) noexcept;
        ~Reservation();

    private:
        friend class LogWriter;
        explicit Reservation(LogWriter* writer) : m_writer(writer) {}
        LogWriter* m_writer;
    };

    // A place for a line that must not be lost, or none when every place is held.
    std::optional<Reservation> reserve();

    // Queues one line (without its line break). Never waits on the stream.
    void post(std::string line);
    void post(std::string line, Reservation reservation);
    // Waits until every line queued so far is written and flushed.
    void flush();

    // Lines dropped so far, for the metrics.
    std::uint64_t dropped() const { return m_droppedTotal; }

private:
    struct Line {
        std::string text;
        bool reserved;
    };
    void writeLines();
    void giveBack();

    std::ostream& m_out;
    const std::size_t m_maxQueued;
    const std::size_t m_maxReserved;
    std::mutex m_mutex;
    std::condition_variable m_queued;
    std::condition_variable m_written;
    std::deque<Line> m_queue;
    std::size_t m_ordinary = 0; // ordinary lines in the queue
    std::size_t m_reserved = 0; // places held, used or not, until their line is written
    std::size_t m_dropped = 0;
    std::atomic<std::uint64_t> m_droppedTotal{0};
    bool m_writing = false;
    bool m_stopping = false;
    std::thread m_thread;
};

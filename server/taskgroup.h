#pragma once

#include <boost/asio/any_io_executor.hpp>
#include <boost/asio/bind_cancellation_slot.hpp>
#include <boost/asio/cancellation_signal.hpp>
#include <boost/asio/consign.hpp>

#include <atomic>
#include <cstddef>
#include <list>
#include <memory>
#include <mutex>
#include <utility>

// Coroutines that stopping the service must cancel and wait for: client sessions, the
// accept loop, account commands. Each task gets a cancellation signal of its own, which
// cancelAll() emits on the task's own executor: a signal is only ever touched from the
// strand its task runs on.
class TaskGroup {
public:
    TaskGroup() = default;
    TaskGroup(const TaskGroup&) = delete;
    TaskGroup& operator=(const TaskGroup&) = delete;

    // The completion token of a task that runs on executor (a strand, or a context run by
    // one thread); the task belongs to the group until its completion handler goes. Call
    // it on executor, as the task is started: a group already cancelled then cancels the
    // new task as soon as it has begun.
    template <class Token> auto adapt(boost::asio::any_io_executor executor, Token&& token) {
        return adapt(std::move(executor), std::make_shared<boost::asio::cancellation_signal>(),
                     std::forward<Token>(token));
    }
    // The same, with a signal the task may also emit on its own strand to cancel itself.
    template <class Token>
    auto adapt(boost::asio::any_io_executor executor,
               std::shared_ptr<boost::asio::cancellation_signal> signal, Token&& token) {
        auto slot = signal->slot();
        return boost::asio::bind_cancellation_slot(
            slot, boost::asio::consign(std::forward<Token>(token),
                                       enter(std::move(executor), std::move(signal))));
    }

    // Cancels every task of the group, and every task that joins it from now on.
    void cancelAll();
    bool cancelled() const { return m_cancelled; }
    std::size_t size() const;

private:
    struct Task {
        boost::asio::any_io_executor executor;
        std::shared_ptr<boost::asio::cancellation_signal> signal;
    };

    // Registers a task; the returned guard removes it when the last copy goes.
    std::shared_ptr<void> enter(boost::asio::any_io_executor executor,
                                std::shared_ptr<boost::asio::cancellation_signal> signal);
    static void cancelLater(const Task& task);

    mutable std::mutex m_mutex;
    std::list<Task> m_tasks;
    std::atomic<bool> m_cancelled{false};
};

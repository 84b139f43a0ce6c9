#include "taskgroup.h"

#include <boost/asio/post.hpp>

namespace asio = boost::asio;

std::shared_ptr<void> TaskGroup::enter(asio::any_io_executor executor,
                                       std::shared_ptr<asio::cancellation_signal> signal) {
    std::lock_guard lock(m_mutex);
    auto task = m_tasks.insert(m_tasks.end(), Task{executor, signal});
    // Posted, not run here: the task's cancellation slot is connected only once the
    // caller, on this executor, has started it.
    if (m_cancelled)
        cancelLater(*task);
    return std::shared_ptr<void>(nullptr, [this, task](void*) {
        std::lock_guard lock(m_mutex);
        m_tasks.erase(task);
    });
}

void TaskGroup::cancelLater(const Task& task) {
    // Always queued, never run inline: a task that ends at once must not re-enter the lock.
    // The handler keeps the signal alive should the task end before it runs.
    asio::post(task.executor,
               [signal = task.signal] { signal->emit(asio::cancellation_type::terminal); });
}

void TaskGroup::cancelAll() {
    std::lock_guard lock(m_mutex);
    m_cancelled = true;
    for (const Task& task : m_tasks)
        cancelLater(task);
}

std::size_t TaskGroup::size() const {
    std::lock_guard lock(m_mutex);
    return m_tasks.size();
}

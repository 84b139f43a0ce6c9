#include "clientwatch.h"

#include <boost/asio/post.hpp>
#include <boost/asio/steady_timer.hpp>

#include <optional>
#include <poll.h>

namespace asio = boost::asio;
using tcp = asio::ip::tcp;

struct ClientWatch::State : std::enable_shared_from_this<State> {
    State(tcp::socket& socket, ConnectionSlots::Slot& slot,
          std::shared_ptr<asio::cancellation_signal> session)
        : socket(socket), slot(slot), session(std::move(session)) {}

    void waitForBytes() {
        waiting = true;
        socket.async_wait(tcp::socket::wait_read, [self = shared_from_this()](auto ec) {
            if (!ec && !self->stopped)
                self->look();
        });
    }

    void look() {
        pollfd peer{socket.native_handle(), POLLIN | POLLRDHUP, 0};
        if (::poll(&peer, 1, 0) < 0)
            peer.revents = 0;
        if (peer.revents & (POLLRDHUP | POLLHUP | POLLERR)) {
            left = true;
            slot.release();
            boost::system::error_code ignored;
            socket.close(ignored);
            session->emit(asio::cancellation_type::terminal);
        } else if (peer.revents & POLLIN) {
            if (!pause)
                pause.emplace(socket.get_executor());
            pause->expires_after(std::chrono::milliseconds(100));
            pause->async_wait([self = shared_from_this()](auto ec) {
                if (!ec && !self->stopped)
                    self->look();
            });
        } else {
            waitForBytes();
        }
    }

    tcp::socket& socket;
    ConnectionSlots::Slot& slot;
    std::shared_ptr<asio::cancellation_signal> session;
    std::optional<asio::steady_timer> pause; // made once bytes are waiting
    bool waiting = false;                    // a wait on the socket may be under way
    bool stopped = false;
    bool left = false;
};

ClientWatch::ClientWatch(tcp::socket& socket, ConnectionSlots::Slot& slot,
                         std::shared_ptr<asio::cancellation_signal> session)
    : m_state(std::make_shared<State>(socket, slot, std::move(session))) {
    // Begun once the request's handling first waits: a request answered at once (a page,
    // the demo's simulator) never needs the watch, and costs no wait on the socket.
    asio::post(socket.get_executor(), [state = m_state] {
        if (!state->stopped)
            state->waitForBytes();
    });
}

ClientWatch::~ClientWatch() {
    // The waits under way end with operation_aborted and touch nothing but their state.
    m_state->stopped = true;
    boost::system::error_code ignored;
    if (m_state->waiting && !m_state->left)
        m_state->socket.cancel(ignored);
    if (m_state->pause)
        m_state->pause->cancel();
}

bool ClientWatch::clientLeft() const {
    return m_state->left;
}

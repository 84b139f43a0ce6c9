#include "clientwatch.h"

#include <boost/asio/post.hpp>
#include <boost/asio/steady_timer.hpp>

#include <optional>

#include <linux/sockios.h>
#include <poll.h>
#include <sys/ioctl.h>

namespace asio = boost::asio;
using tcp = asio::ip::tcp;

namespace {

// Nothing of an earlier answer waits in the socket's send queue: a short write goes out
// whole, and cannot interleave with one.
bool sendQueueEmpty(int fd) {
    int queued = 0;
    return ::ioctl(fd, SIOCOUTQ, &queued) == 0 && queued == 0;
}

} // namespace

struct ClientWatch::State : std::enable_shared_from_this<State> {
    State(tcp::socket& socket, AddressSlots::Slot& slot,
          std::shared_ptr<asio::cancellation_signal> session, Probe probe)
        : socket(socket), slot(slot), session(std::move(session)), probe(std::move(probe)) {}

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
        if (peer.revents & (POLLHUP | POLLERR)) {
            leave();
        } else if (peer.revents & POLLRDHUP) {
            // A FIN: closed, or only shut for sending. Asked once; the answer (a reset, or
            // nothing) is looked for from then on.
            if (!probed) {
                probed = true;
                if (probe && sendQueueEmpty(socket.native_handle()) && probe()) {
                    // A closed peer's reset comes within a round trip.
                    lookLater(std::chrono::milliseconds(5));
                    return;
                }
            }
            lookLater();
        } else if (peer.revents & POLLIN) {
            lookLater();
        } else {
            waitForBytes();
        }
    }

    void lookLater(std::chrono::milliseconds after = std::chrono::milliseconds(100)) {
        if (!pause)
            pause.emplace(socket.get_executor());
        pause->expires_after(after);
        pause->async_wait([self = shared_from_this()](auto ec) {
            if (!ec && !self->stopped)
                self->look();
        });
    }

    void leave() {
        left = true;
        slot.release();
        boost::system::error_code ignored;
        socket.close(ignored);
        session->emit(asio::cancellation_type::terminal);
    }

    tcp::socket& socket;
    AddressSlots::Slot& slot;
    std::shared_ptr<asio::cancellation_signal> session;
    Probe probe;
    std::optional<asio::steady_timer> pause; // made once bytes or a FIN are waiting
    bool waiting = false;                    // a wait on the socket may be under way
    bool probed = false;
    bool stopped = false;
    bool left = false;
};

ClientWatch::ClientWatch(tcp::socket& socket, AddressSlots::Slot& slot,
                         std::shared_ptr<asio::cancellation_signal> session, Probe probe)
    : m_state(std::make_shared<State>(socket, slot, std::move(session), std::move(probe))) {
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

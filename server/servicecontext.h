#pragma once

#include <boost/asio/io_context.hpp>

// The io_context the gateway runs on. Once the service has stopped, work that ignored the
// stop can be dropped: its coroutines are destroyed while the objects they use still
// exist, rather than by the context's destructor after those objects are gone.
class ServiceContext : public boost::asio::io_context {
public:
    using boost::asio::io_context::io_context;

    // Destroys every handler still pending; call it only once no thread runs the context.
    void dropPendingWork() { shutdown(); }
};

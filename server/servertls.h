#pragma once

#include <boost/asio/ssl/context.hpp>

#include <memory>
#include <mutex>
#include <string>

// The gateway's own certificate and key, for HTTPS. Read again on a reload (SIGHUP, as
// after a renewal): new handshakes use the new ones, connections open keep theirs, and
// files that cannot be used leave the old ones in use.
class ServerTls {
public:
    ServerTls(std::string certificateFile, std::string keyFile);

    // Reads the files; empty when they are in use now, else why not.
    std::string load();
    // What a new handshake uses; held by the connection as long as it lives.
    std::shared_ptr<boost::asio::ssl::context> current() const;

private:
    const std::string m_certificateFile;
    const std::string m_keyFile;
    mutable std::mutex m_mutex;
    std::shared_ptr<boost::asio::ssl::context> m_context;
};

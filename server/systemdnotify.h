#pragma once

#include <string>

// Tells systemd how the service is doing (Type=notify). Without systemd (no
// NOTIFY_SOCKET in the environment) each call does nothing.
class SystemdNotify {
public:
    // The listener is open: `systemctl start` may return. status says where it serves.
    static void ready(const std::string& status);
    static void stopping();
};

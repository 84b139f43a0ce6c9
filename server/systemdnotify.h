#pragma once

#include <chrono>
#include <string>

// Tells systemd how the service is doing (Type=notify). Without systemd (no
// NOTIFY_SOCKET in the environment) each call does nothing.
class SystemdNotify {
public:
    // The listener is open: `systemctl start` may return. status says where it serves.
    static void ready(const std::string& status);
    // A reload (SIGHUP) begins; ready() again when it is over.
    static void reloading();
    static void stopping();
    // The event loop runs: the watchdog's ping.
    static void watchdog();
    // How often systemd's watchdog wants to hear from the service (WatchdogSec=), or 0.
    static std::chrono::microseconds watchdogInterval();
};

#include "systemdnotify.h"

#include <systemd/sd-daemon.h>

void SystemdNotify::ready(const std::string& status) {
    sd_notifyf(0, "READY=1\nSTATUS=%s", status.c_str());
}

void SystemdNotify::reloading() {
    sd_notify(0, "RELOADING=1\nSTATUS=Reloading the certificates");
}

void SystemdNotify::stopping() {
    sd_notify(0, "STOPPING=1\nSTATUS=Stopping: finishing the requests under way");
}

void SystemdNotify::watchdog() {
    sd_notify(0, "WATCHDOG=1");
}

std::chrono::microseconds SystemdNotify::watchdogInterval() {
    uint64_t usec = 0;
    return sd_watchdog_enabled(0, &usec) > 0 ? std::chrono::microseconds(usec)
                                             : std::chrono::microseconds(0);
}

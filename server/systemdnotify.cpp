#include "systemdnotify.h"

#include <systemd/sd-daemon.h>

void SystemdNotify::ready(const std::string& status) {
    sd_notifyf(0, "READY=1\nSTATUS=%s", status.c_str());
}

void SystemdNotify::stopping() {
    sd_notify(0, "STOPPING=1\nSTATUS=Stopping");
}

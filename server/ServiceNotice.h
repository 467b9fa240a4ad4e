// What the server tells systemd when it runs as a Type=notify service: readiness, what it is
// doing (STATUS=, shown by systemctl status) and that it is stopping.
#pragma once

#include <string>

namespace tarvo::server::service {

// Each does nothing when the process was not started by systemd with a notification socket
// (NOTIFY_SOCKET unset), so the program runs the same by hand, in tests and in containers.
void status(const std::string &text);
// Once listening: systemctl start returns only after this, and fails when the process
// exits before it.
void ready(const std::string &text);
void stopping(const std::string &text);

} // namespace tarvo::server::service

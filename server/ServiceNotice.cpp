#include "ServiceNotice.h"

#include <systemd/sd-daemon.h>

namespace tarvo::server::service {

namespace {

// Line breaks would end the STATUS= field early and start a field of the text's choosing.
std::string oneLine(std::string text)
{
    for (char &c : text) {
        if (c == '\n' || c == '\r') {
            c = ' ';
        }
    }
    return text;
}

void notify(const std::string &fields)
{
    // A failure to notify is not the server's to act on: systemd then times the start out.
    sd_notify(0, fields.c_str());
}

} // namespace

void status(const std::string &text)
{
    notify("STATUS=" + oneLine(text));
}

void ready(const std::string &text)
{
    notify("READY=1\nSTATUS=" + oneLine(text));
}

void stopping(const std::string &text)
{
    notify("STOPPING=1\nSTATUS=" + oneLine(text));
}

} // namespace tarvo::server::service

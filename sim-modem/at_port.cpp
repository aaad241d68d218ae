// The USB modem's other ports, which a real modem has beside the one the
// tool talks to: AT command ports that answer at once, so that a program
// that probes every new tty (ModemManager) finds a modem there, as it would
// on a router.
#include <string.h>

#include "usb_acm.h"

namespace {

// Enough for ModemManager's probing and its generic modem's set-up; what a
// query asks beyond this, the modem does not have.
struct at_reply {
    const char *command;
    const char *text;
};
constexpr at_reply known_replies[] = {
    {"AT+GCAP", "+GCAP: +CGSM"},
    {"ATI", "sim-modem"},
    {"AT+CGMI", "sim-modem"},
    {"AT+CGMM", "dial mode test modem"},
    {"AT+CGMR", "0.1.0"},
    {"AT+CGSN", "490154203237518"},
    {"AT+CPIN?", "+CPIN: READY"},
};

std::string answer(const std::string &command)
{
    for (const at_reply &r : known_replies)
        if (command == r.command)
            return std::string("\r\n") + r.text + "\r\n\r\nOK\r\n";
    if (command.find('?') != std::string::npos)
        return "\r\nERROR\r\n";
    return "\r\nOK\r\n";
}

} // namespace

std::string at_port_take(std::string &line, const char *bytes, size_t n)
{
    std::string replies;
    for (size_t i = 0; i < n; i++) {
        if (bytes[i] != '\r') {
            if (bytes[i] != '\n')
                line += bytes[i];
            continue;
        }
        if (strncmp(line.c_str(), "AT", 2) == 0 || strncmp(line.c_str(), "at", 2) == 0)
            replies += answer(line);
        line.clear();
    }
    return replies;
}

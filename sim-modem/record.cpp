// What the simulated modem saw of the tool, written so that a person can
// read it and a test can pick single facts out of it.
#include <charconv>
#include <utility>

#include "line_rates.h"
#include "sim_modem.h"
#include "usb_acm.h"

namespace {

// The rate the tool would have asked for to get this code; -1 for a code it
// cannot set.
long rate_of(speed_t code)
{
    for (const rate_code &r : rate_codes)
        if (r.code == code)
            return r.rate;
    return code == fallback_rate.code ? fallback_rate.rate : -1;
}

void fact(std::string &out, const char *key, const std::string &value)
{
    out.append(key).append(" ").append(value).append("\n");
}

void fact(std::string &out, const char *key, long value)
{
    fact(out, key, std::to_string(value));
}

std::string octal(tcflag_t flags)
{
    char digits[16];
    return "0" + std::string(digits, std::to_chars(digits, digits + sizeof digits, flags, 8).ptr);
}

void line_facts(std::string &out, const struct termios &t)
{
    static const char *const sizes[] = {"5", "6", "7", "8"};
    fact(out, "ispeed", rate_of(cfgetispeed(&t)));
    fact(out, "ospeed", rate_of(cfgetospeed(&t)));
    fact(out, "csize", sizes[(t.c_cflag & CSIZE) / CS6]);
    const std::pair<const char *, tcflag_t> flags[] = {
        {"parenb", t.c_cflag & PARENB}, {"cstopb", t.c_cflag & CSTOPB},   {"cread", t.c_cflag & CREAD},
        {"clocal", t.c_cflag & CLOCAL}, {"crtscts", t.c_cflag & CRTSCTS}, {"hupcl", t.c_cflag & HUPCL},
        {"icanon", t.c_lflag & ICANON}, {"echo", t.c_lflag & ECHO},       {"echoe", t.c_lflag & ECHOE},
        {"isig", t.c_lflag & ISIG},     {"iexten", t.c_lflag & IEXTEN},   {"opost", t.c_oflag & OPOST},
        // What cfmakeraw clears: none of these may be left on a raw line.
        {"cooked_iflag", t.c_iflag & (IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON)},
    };
    for (const auto &[key, set] : flags)
        fact(out, key, set != 0);
    fact(out, "vmin", t.c_cc[VMIN]);
    fact(out, "vtime", t.c_cc[VTIME]);
    fact(out, "iflag", octal(t.c_iflag));
    fact(out, "oflag", octal(t.c_oflag));
    fact(out, "cflag", octal(t.c_cflag));
    fact(out, "lflag", octal(t.c_lflag));
}

} // namespace

std::string quoted_text(const std::string &bytes)
{
    constexpr char hex[] = "0123456789abcdef";
    std::string text = "\"";
    for (char c : bytes) {
        unsigned char ch = static_cast<unsigned char>(c);
        if (ch == '\r')
            text += "\\r";
        else if (ch == '\n')
            text += "\\n";
        else if (ch == '"' || ch == '\\')
            text.append("\\").append(1, c);
        else if (ch < 0x20 || ch >= 0x7f)
            text.append("\\x").append(1, hex[ch >> 4]).append(1, hex[ch & 15]);
        else
            text += c;
    }
    return text + "\"";
}

std::string record_bytes(const std::string &bytes)
{
    return std::to_string(bytes.size()) + " " + quoted_text(bytes);
}

std::string modem_record(const sim_modem &m)
{
    std::string out;
    fact(out, "device", m.device);
    fact(out, "received", record_bytes(m.talk.received));
    fact(out, "hung_up", m.seen.hung_up);
    if (m.seen.line_known)
        line_facts(out, m.seen.line);
    // A USB modem sees no terminal settings, only what the host asked of
    // it, in order: milliseconds since the start, then the event.
    if (m.line.usb)
        for (const usb_event &e : m.line.usb->events)
            fact(out, "event", std::to_string((e.us - m.at.start_us) / 1000) + " " + e.what);
    return out;
}

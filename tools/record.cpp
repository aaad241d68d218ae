// What the simulated modem saw of the tool, written so that a person can
// read it and a test can pick single facts out of it.
#include "sim_modem.h"
#include "usb_acm.h"

namespace {

struct speed_name {
    speed_t code;
    unsigned long rate;
};

constexpr speed_name speeds[] = {
    {B0, 0},           {B50, 50},         {B75, 75},         {B110, 110},
    {B134, 134},       {B150, 150},       {B200, 200},       {B300, 300},
    {B600, 600},       {B1200, 1200},     {B1800, 1800},     {B2400, 2400},
    {B4800, 4800},     {B9600, 9600},     {B19200, 19200},   {B38400, 38400},
    {B57600, 57600},   {B115200, 115200}, {B230400, 230400}, {B460800, 460800},
};

long rate_of(speed_t code)
{
    for (const speed_name &s : speeds)
        if (s.code == code)
            return static_cast<long>(s.rate);
    return -1;
}

void escaped(const std::string &bytes, FILE *out)
{
    fputc('"', out);
    for (char c : bytes) {
        unsigned char ch = static_cast<unsigned char>(c);
        if (ch == '\r')
            fputs("\\r", out);
        else if (ch == '\n')
            fputs("\\n", out);
        else if (ch == '"' || ch == '\\')
            fprintf(out, "\\%c", ch);
        else if (ch < 0x20 || ch >= 0x7f)
            fprintf(out, "\\x%02x", ch);
        else
            fputc(ch, out);
    }
    fputc('"', out);
}

int bit(tcflag_t flags, tcflag_t mask)
{
    return (flags & mask) != 0;
}

void line_facts(const struct termios &t, FILE *out)
{
    static const char *const sizes[] = {"5", "6", "7", "8"};
    fprintf(out, "ispeed %ld\nospeed %ld\n", rate_of(cfgetispeed(&t)), rate_of(cfgetospeed(&t)));
    fprintf(out, "csize %s\n", sizes[(t.c_cflag & CSIZE) / CS6]);
    fprintf(out, "parenb %d\ncstopb %d\ncread %d\nclocal %d\ncrtscts %d\nhupcl %d\n",
            bit(t.c_cflag, PARENB), bit(t.c_cflag, CSTOPB), bit(t.c_cflag, CREAD),
            bit(t.c_cflag, CLOCAL), bit(t.c_cflag, CRTSCTS), bit(t.c_cflag, HUPCL));
    fprintf(out, "icanon %d\necho %d\nechoe %d\nisig %d\niexten %d\nopost %d\n",
            bit(t.c_lflag, ICANON), bit(t.c_lflag, ECHO), bit(t.c_lflag, ECHOE),
            bit(t.c_lflag, ISIG), bit(t.c_lflag, IEXTEN), bit(t.c_oflag, OPOST));
    // What cfmakeraw clears: none of these may be left on a raw line.
    constexpr tcflag_t cooked_input = IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON;
    fprintf(out, "cooked_iflag %d\n", bit(t.c_iflag, cooked_input));
    fprintf(out, "vmin %d\nvtime %d\n", t.c_cc[VMIN], t.c_cc[VTIME]);
    fprintf(out, "iflag 0%o\noflag 0%o\ncflag 0%o\nlflag 0%o\n", t.c_iflag, t.c_oflag, t.c_cflag,
            t.c_lflag);
}

} // namespace

void modem_write_record(const sim_modem &m, FILE *out)
{
    fprintf(out, "device %s\n", m.device.c_str());
    fprintf(out, "received %zu ", m.received.size());
    escaped(m.received, out);
    fputc('\n', out);
    fprintf(out, "hung_up %d\n", m.hung_up ? 1 : 0);
    if (m.line_known)
        line_facts(m.line, out);
    // A USB modem sees no terminal settings, only what the host asked of
    // it, in order: milliseconds since the start, then the event.
    if (m.usb)
        for (const usb_event &e : m.usb->events)
            fprintf(out, "event %lld %s\n", static_cast<long long>((e.us - m.start_us) / 1000),
                    e.what.c_str());
}

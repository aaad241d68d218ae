// Plays a modem script on a pseudo-terminal, one step after another, never
// blocking: the caller decides whether time is real or virtual.
#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include "sim_modem.h"
#include "usb_acm.h"

namespace {

constexpr int64_t drain_poll_us = 10000;
// Bytes written to the master reach the tool's queue a moment later, when a
// kernel worker gets to them: on a busy machine, tens of milliseconds or
// more. The tool has taken them once they have been seen there and are
// gone; a tool already waiting in a read takes them before they can be
// seen, so after this long they count as taken anyway.
constexpr int64_t drain_quiet_us = 20000;
constexpr int64_t drain_unseen_us = 1000000;
// What a flood keeps ready: more than the tool's queue holds.
constexpr size_t flood_ahead = 4095;

void collect_input(sim_modem &m)
{
    if (m.line.usb) {
        m.talk.received += m.line.usb->from_host;
        m.line.usb->from_host.clear();
        return;
    }
    char buf[4096];
    for (;;) {
        ssize_t n = m.line.master < 0 ? -1 : read(m.line.master, buf, sizeof buf);
        if (n <= 0)
            return;
        m.talk.received.append(buf, static_cast<size_t>(n));
    }
}

// A UART hands bytes over one at a time, so the line feed of a "\r\n" can
// come after the carriage return has already ended an awaited line. It still
// belongs to that line, and to its echo if that has gone out.
void take_late_line_feed(sim_modem &m)
{
    if (!m.talk.line_feed_may_follow || m.talk.received.size() == m.talk.awaited)
        return;
    m.talk.line_feed_may_follow = false;
    if (m.talk.received[m.talk.awaited] != '\n')
        return;
    if (m.talk.echoed == m.talk.awaited) {
        m.talk.pending += '\n';
        m.talk.echoed++;
    }
    m.talk.awaited++;
}

void flush_pending(sim_modem &m, int64_t now_us)
{
    if ((m.line.master < 0 && !m.line.usb) || m.talk.pending.empty())
        return;
    ssize_t n = m.line.usb ? static_cast<ssize_t>(usb_send(*m.line.usb, m.talk.pending.data(), m.talk.pending.size()))
                           : write(m.line.master, m.talk.pending.data(), m.talk.pending.size());
    if (n <= 0)
        return;
    m.talk.pending.erase(0, static_cast<size_t>(n));
    m.talk.sent += static_cast<size_t>(n);
    m.talk.last_write_us = now_us;
    m.talk.write_seen = false;
}

bool drained(sim_modem &m, int64_t now_us)
{
    int queued = modem_queued_for_tool(m);
    m.talk.write_seen = m.talk.write_seen || queued > 0;
    int64_t quiet_us = now_us - m.talk.last_write_us;
    return m.talk.pending.empty() && queued == 0 && quiet_us >= drain_quiet_us &&
           (m.talk.write_seen || m.line.usb || quiet_us >= drain_unseen_us);
}

bool make_parent_dirs(const std::string &path)
{
    for (size_t slash = path.find('/', 1); slash != std::string::npos; slash = path.find('/', slash + 1)) {
        std::string dir = path.substr(0, slash);
        if (mkdir(dir.c_str(), 0755) != 0 && errno != EEXIST)
            return false;
    }
    return true;
}

// Clears the device path for whatever is to stand there.
const char *free_device_path(sim_modem &m)
{
    make_parent_dirs(m.device);
    unlink(m.device.c_str());
    return m.device.c_str();
}

void appear(sim_modem &m)
{
    if (m.line.usb) {
        usb_plug(*m.line.usb);
        m.line.present = true;
        return;
    }
    if (!m.line.present)
        m.line.present = symlink(m.line.pts_name.c_str(), free_device_path(m)) == 0;
}

// Something other than a terminal where the tool expects its modem.
void make_node(sim_modem &m, const std::string &kind)
{
    const char *path = free_device_path(m);
    if (kind == "null") {
        m.line.present = symlink("/dev/null", path) == 0;
    } else if (kind == "fifo") {
        m.line.present = mkfifo(path, 0666) == 0;
    } else {
        int fd = open(path, O_CREAT | O_WRONLY | O_CLOEXEC, 0666);
        m.line.present = fd >= 0;
        if (fd >= 0)
            close(fd);
    }
}

void close_line(sim_modem &m)
{
    if (m.line.master >= 0)
        close(m.line.master);
    if (m.line.slave >= 0)
        close(m.line.slave);
    m.line.master = m.line.slave = -1;
}

void hang_up(sim_modem &m)
{
    if (m.line.usb)
        usb_unplug(*m.line.usb);
    modem_capture_line(m);
    close_line(m);
    m.seen.hung_up = true;
    m.talk.pending.clear();
}

// Whether the time has come; when not, when to look again.
bool reached(int64_t when_us, int64_t now_us, int64_t &wake_us)
{
    if (now_us >= when_us)
        return true;
    wake_us = when_us;
    return false;
}

// Plays the current step; true when it is done and the next may start.
bool play(sim_modem &m, const modem_step &s, int64_t now_us, int64_t &wake_us)
{
    switch (s.kind) {
    case step_kind::appear:
        if (!reached(m.at.start_us + s.ms * 1000, now_us, wake_us))
            return false;
        appear(m);
        return true;
    case step_kind::absent:
        return true;
    case step_kind::node:
        make_node(m, s.text);
        return true;
    case step_kind::await: {
        // A modem ends a command line at its carriage return; a line feed
        // that comes with it belongs to the same line.
        size_t end = m.talk.received.find_first_of("\r\n", m.talk.awaited);
        if (end == std::string::npos)
            return false;
        if (m.talk.received.compare(end, 2, "\r\n") == 0)
            end++;
        else
            m.talk.line_feed_may_follow = m.talk.received[end] == '\r' && end + 1 == m.talk.received.size();
        m.talk.awaited = end + 1;
        return true;
    }
    case step_kind::forget:
        m.talk.awaited = m.talk.echoed = m.talk.received.size();
        m.talk.line_feed_may_follow = false;
        return true;
    case step_kind::echo:
        m.talk.pending += m.talk.received.substr(m.talk.echoed, m.talk.awaited - m.talk.echoed);
        m.talk.echoed = m.talk.awaited;
        flush_pending(m, now_us);
        return true;
    case step_kind::delay:
        return reached(m.at.step_started_us + s.ms * 1000, now_us, wake_us);
    case step_kind::send:
        m.talk.pending += s.text;
        flush_pending(m, now_us);
        return true;
    case step_kind::drain:
        if (drained(m, now_us))
            return true;
        wake_us = now_us + drain_poll_us;
        return false;
    case step_kind::listing:
        while (m.at.listing_sent < s.sizes.size()) {
            if (!drained(m, now_us)) {
                wake_us = now_us + drain_poll_us;
                return false;
            }
            m.talk.pending.append(s.sizes[m.at.listing_sent], static_cast<char>('a' + m.at.listing_sent));
            m.at.listing_sent++;
            flush_pending(m, now_us);
        }
        m.at.listing_sent = 0;
        return true;
    case step_kind::flood:
        if (m.talk.pending.size() < flood_ahead)
            while (m.talk.pending.size() < 2 * flood_ahead)
                m.talk.pending += s.text;
        flush_pending(m, now_us);
        wake_us = now_us + drain_poll_us;
        return false;
    case step_kind::hangup:
        hang_up(m);
        return true;
    case step_kind::plug:
        appear(m);
        return true;
    case step_kind::lines:
        usb_set_serial_state(*m.line.usb, s.lines);
        return true;
    case step_kind::cue:
        if (m.cues_heard == m.at.cues_taken)
            return false; // the channel's next line moves it on
        m.at.cues_taken++;
        if (m.line.usb)
            usb_note(*m.line.usb, "cue");
        return true;
    }
    return true;
}

int64_t play_steps(sim_modem &m, int64_t now_us)
{
    while (m.at.next < m.script.size()) {
        int64_t wake_us = never;
        if (!play(m, m.script[m.at.next], now_us, wake_us))
            return wake_us;
        m.at.next++;
        m.at.step_started_us = now_us;
    }
    return m.talk.pending.empty() ? never : now_us + drain_poll_us;
}

// Returns whether the script's first step places the device; without one,
// the modem is there from the start.
bool start(sim_modem &m, const modem_script &script, int64_t now_us)
{
    m = sim_modem{};
    m.script = script;
    m.at.start_us = m.at.step_started_us = now_us;
    m.talk.last_write_us = now_us - drain_quiet_us;
    return !script.empty() && places_device(script[0].kind);
}

} // namespace

int64_t monotonic_us()
{
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1000000 + ts.tv_nsec / 1000;
}

bool modem_open_usb(sim_modem &m, usb_acm &usb, const modem_script &script, int64_t now_us,
                    std::string &error)
{
    if (!script_playable(script, true, error))
        return false;
    bool deferred = start(m, script, now_us);
    m.line.usb = &usb;
    m.device = "usb";
    if (!deferred)
        appear(m);
    return true;
}

bool modem_open(sim_modem &m, const char *device, const modem_script &script, int64_t now_us,
                std::string &error)
{
    if (!script_playable(script, false, error))
        return false;
    bool deferred = start(m, script, now_us);
    m.device = device;
    m.line.master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (m.line.master < 0 || grantpt(m.line.master) != 0 || unlockpt(m.line.master) != 0) {
        error = std::string("cannot make a pseudo-terminal: ") + strerror(errno);
        return false;
    }
    const char *name = ptsname(m.line.master);
    m.line.slave = name ? open(name, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC) : -1;
    if (m.line.slave < 0) {
        error = std::string("cannot open the pseudo-terminal's slave: ") + strerror(errno);
        return false;
    }
    m.line.pts_name = name;
    fcntl(m.line.master, F_SETFL, O_RDWR | O_NONBLOCK);
    // The line starts as an earlier user might have left it: two stop bits,
    // on top of a pseudo-terminal's cooked defaults, so that the record shows
    // whether the tool set what it relies on. (A pseudo-terminal keeps 8 data
    // bits, no parity and its receiver on whatever it is told.)
    struct termios line;
    if (tcgetattr(m.line.slave, &line) == 0) {
        line.c_cflag |= CSTOPB;
        tcsetattr(m.line.slave, TCSANOW, &line);
    }
    if (!deferred)
        appear(m);
    if (!deferred && !m.line.present) {
        error = "cannot make " + m.device + ": " + strerror(errno);
        return false;
    }
    return true;
}

int64_t modem_advance(sim_modem &m, int64_t now_us)
{
    if (m.line.usb)
        usb_service(*m.line.usb, now_us);
    collect_input(m);
    take_late_line_feed(m);
    flush_pending(m, now_us);
    int64_t wake_us = play_steps(m, now_us);
    // What the steps queued for the host goes out now, not at the next wake.
    if (m.line.usb)
        usb_service(*m.line.usb, now_us);
    return wake_us;
}

bool modem_awaiting_input(const sim_modem &m)
{
    return m.at.next < m.script.size() && m.script[m.at.next].kind == step_kind::await;
}

int modem_queued_for_tool(const sim_modem &m)
{
    if (m.line.usb)
        return static_cast<int>(m.line.usb->to_host.size());
    int n = 0;
    if (m.line.slave < 0 || ioctl(m.line.slave, FIONREAD, &n) != 0)
        return 0;
    return n;
}

void modem_capture_line(sim_modem &m)
{
    if (m.line.slave >= 0 && tcgetattr(m.line.slave, &m.seen.line) == 0)
        m.seen.line_known = true;
}

void modem_close(sim_modem &m)
{
    if (m.line.present && !m.line.usb)
        unlink(m.device.c_str());
    m.line.present = false;
    close_line(m);
}

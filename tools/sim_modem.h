// A modem played from a script, on a pseudo-terminal that stands in for the
// modem's AT port, or as a USB device to QEMU (usb_acm.h). The same engine
// serves the sim-modem command (real time) and in-process tests (a virtual
// clock that the test moves forward).
#pragma once

#include <stdint.h>
#include <termios.h>

#include <string>
#include <vector>

enum class step_kind { appear, absent, node, await, echo, delay, send, drain, listing, flood, hangup, plug, lines };

struct modem_step {
    step_kind kind;
    int64_t ms = 0;            // appear, delay
    std::string text;          // send (also fill), flood, node
    std::vector<size_t> sizes; // listing
    unsigned lines = 0;        // lines: usb_dcd, usb_dsr, usb_ri
};

using modem_script = std::vector<modem_step>;

// Steps that decide what stands at the device path; only the first step may
// be one, and without one the modem is there from the start.
inline bool places_device(step_kind kind)
{
    return kind == step_kind::appear || kind == step_kind::absent || kind == step_kind::node;
}

// A script is a list of steps separated by ';' or new lines; '#' starts a
// comment. Texts are in double quotes with C escapes (\r \n \t \0 \\ \" \xHH).
//   appear MS     the device node shows up MS milliseconds after the start
//                 (without appear, absent or node first, it is there from the
//                 start); a USB modem is plugged in then
//   absent        the device node never shows up
//   node KIND     in place of the modem, the device is something that is not
//                 a terminal: null (the null device), fifo (a named pipe) or
//                 file (an empty regular file)
//   await         wait until the tool has sent a line (up to a carriage return
//                 or line feed; a "\r\n" pair counts as one end, even when
//                 the line feed comes later)
//   echo          send back what the tool sent, up to the last awaited line
//   delay MS      do nothing for MS milliseconds
//   send TEXT     send TEXT
//   fill N TEXT   send N bytes made of TEXT repeated
//   drain         wait until the tool has read everything sent so far (a USB
//                 modem sees only that the host has taken it)
//   listing N...  for each N: drain, then send N bytes of one letter
//                 ('a' for the first chunk, 'b' for the next, ...)
//   flood TEXT    send TEXT over and over for as long as the tool runs
//   hangup        close the line, as an unplugged modem would (a USB modem
//                 is unplugged)
//   plug          a USB modem is plugged in again
//   lines NAME... a USB modem reports these lines raised and the others low:
//                 dcd, dsr, ri (none named: all low)
bool parse_script(const char *text, modem_script &script, std::string &error);

extern const char default_script[];

constexpr int64_t never = INT64_MAX;

struct usb_acm;

struct sim_modem {
    modem_script script;
    std::string device;
    usb_acm *usb = nullptr;    // a USB modem: no pseudo-terminal then
    int master = -1;
    int slave = -1;            // held so that the line and its settings outlive the tool's close
    std::string pts_name;
    bool device_present = false;
    bool hung_up = false;
    bool settle_writes = false; // wait until sent bytes are readable by the tool
    size_t next = 0;
    size_t listing_sent = 0;
    int64_t start_us = 0;
    int64_t step_started_us = 0;
    int64_t last_write_us = 0;
    std::string received;       // all that the tool wrote
    size_t awaited = 0;         // received bytes taken by await
    bool line_feed_may_follow = false; // the last awaited line ended at a lone "\r"
    size_t echoed = 0;
    std::string pending;        // to be sent once the line has room
    struct termios line = {};
    bool line_known = false;
};

// Creates the pseudo-terminal; the device node follows the script.
bool modem_open(sim_modem &m, const char *device, const modem_script &script, int64_t now_us,
                std::string &error);
// The same as a USB modem on usb, which the caller serves and closes.
bool modem_open_usb(sim_modem &m, usb_acm &usb, const modem_script &script, int64_t now_us,
                    std::string &error);
// Plays the script as far as it can go at now_us without blocking. Returns the
// time at which it wants to be called again, or never when only the tool can
// move it on (by writing, reading or ending).
int64_t modem_advance(sim_modem &m, int64_t now_us);
bool modem_awaiting_input(const sim_modem &m);
// Remembers the settings the tool left on the line.
void modem_capture_line(sim_modem &m);
void modem_close(sim_modem &m);
// What the tool wrote and the line settings, one fact per line: "KEY VALUE".
std::string modem_record(const sim_modem &m);
// Bytes as a script or the record writes them: in double quotes, with
// \r \n \" \\ and \xHH for the rest that is not printable ASCII.
std::string quoted_text(const std::string &bytes);
// Bytes as the record shows them: their count, then quoted_text.
std::string record_bytes(const std::string &bytes);

// Moves this process into a private mount namespace whose /dev is a fresh
// tmpfs holding only the usual nodes and a private pseudo-terminal instance,
// so that the device node can be made without touching the machine's /dev.
bool sandbox_enter(const char *device, std::string &error);

int64_t monotonic_us();

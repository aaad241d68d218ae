// A modem played from a script, on a pseudo-terminal that stands in for the
// modem's AT port, or as a USB device to QEMU (usb_acm.h). The same engine
// serves the sim-modem command (real time) and in-process tests (a virtual
// clock that the test moves forward).
#pragma once

#include <stdint.h>
#include <termios.h>

#include <string>
#include <vector>

enum class step_kind { appear, absent, node, await, forget, echo, delay, send, drain, listing, flood, hangup, plug, lines, cue };

struct modem_step {
    step_kind kind;
    int64_t ms = 0;            // appear, delay
    std::string text;          // send (also fill), flood, node
    std::vector<size_t> sizes; // listing
    unsigned lines = 0;        // lines: usb_dcd, usb_dsr, usb_ri
};

using modem_script = std::vector<modem_step>;

// A script is a list of steps separated by ';' or new lines; '#' starts a
// comment. The steps, what each takes and does, and where it may stand are
// described once, in the table in script.cpp, which `sim-modem --help` prints.
bool parse_script(const char *text, modem_script &script, std::string &error);
// Whether the step decides what stands at the device path (it is then the
// first; without one the modem is there from the start).
bool places_device(step_kind kind);
// Whether every step can be played on this kind of line; why not, if not.
bool script_playable(const modem_script &script, bool usb, std::string &error);
// The steps as --help lists them.
std::string script_help();

extern const char default_script[];

constexpr int64_t never = INT64_MAX;

struct usb_acm;

// The line the tool talks on: a pseudo-terminal whose slave stands at the
// device path, or a USB modem that the caller serves.
struct modem_line {
    usb_acm *usb = nullptr;
    int master = -1;
    int slave = -1; // held so that the line and its settings outlive the tool's close
    std::string pts_name;
    bool present = false; // something stands at the device path, or the USB modem is plugged
};

// Where the script has got to, and when.
struct script_cursor {
    size_t next = 0;
    size_t listing_sent = 0; // chunks of the current listing step sent so far
    size_t cues_taken = 0;
    int64_t start_us = 0;
    int64_t step_started_us = 0;
};

// What the tool said, and what the modem has still to say.
struct modem_talk {
    std::string received;              // all that the tool wrote
    size_t awaited = 0;                // received bytes taken by await
    bool line_feed_may_follow = false; // the last awaited line ended at a lone "\r"
    size_t echoed = 0;
    std::string pending;               // to be sent once the line has room
    size_t sent = 0;                   // bytes handed to the line so far
    int64_t last_write_us = 0;
    bool write_seen = true;            // the last write's bytes were seen in the tool's queue
};

// What the record reports beside the talk.
struct modem_seen {
    bool hung_up = false;
    struct termios line = {}; // the settings the tool left on the line
    bool line_known = false;
};

struct sim_modem {
    modem_script script;
    size_t cues_heard = 0; // lines that came on the cue channel (cues.h)
    std::string device;
    modem_line line;
    script_cursor at;
    modem_talk talk;
    modem_seen seen;
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
// Bytes sent that the tool has yet to read (a USB modem: that the host has
// yet to take).
int modem_queued_for_tool(const sim_modem &m);
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

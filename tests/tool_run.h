// Runs the shipped modem-dialmode binary against the simulated modem and
// collects everything it did: output, status, and what the modem saw.
#pragma once

#include <sys/types.h>

#include <map>
#include <string>
#include <vector>

enum class stdout_kind {
    captured,    // a pipe the test reads
    closed,      // descriptor 1 closed
    reader_gone, // a pipe whose reading end is already closed
    full,        // /dev/full: every write fails with ENOSPC
    console_lost, // a terminal that hangs up once 4096 bytes have come through
};

struct run_options {
    std::string script = {};            // what the simulated modem does
    std::vector<std::string> args = {}; // given to the tool
    bool close_stdin = false;
    uid_t as_user = 0; // when not 0 and run by root: run as this user instead
    bool session_leader = false; // the tool starts a session of its own
    stdout_kind out = stdout_kind::captured;
    int terminate_tool_after_ms = 0; // when not 0: SIGTERM the tool then
};

struct tool_run {
    std::string out;
    std::string err;
    int status = -1; // exit status, or 128 + the signal that ended it
    bool hung = false;
    bool left_behind = false; // a process of the run outlived it
    double seconds = 0;
    std::map<std::string, std::string> record; // "KEY VALUE" facts from the modem
};

// Longer than any run may take; a run still going then has hung.
constexpr int hang_bound_s = 60;

// Whether a private /dev can be made here (by the given user, when not 0);
// why not, when it cannot.
bool sandbox_available(std::string &why, uid_t as_user = 0);
tool_run run_tool(const run_options &options);

// The cue channel: the unix socket on which a guest tells the simulated
// modem, one line at a time, that it is ready for the script's next step.
#pragma once

#include <stddef.h>

#include <string>

struct cue_channel {
    int listener = -1;
    int peer = -1; // QEMU's end of the guest's port, once it has connected
    bool ended = false;
    std::string path;
};

// A non-blocking unix stream socket listening on path (made anew).
bool unix_listen(const char *path, int &fd, std::string &error);

bool cues_listen(cue_channel &c, const char *path, std::string &error);
int cues_poll_fd(const cue_channel &c);
// Accepts QEMU and reads what the guest wrote, never blocking; returns how
// many cues (lines) came.
size_t cues_take(cue_channel &c);
void cues_close(cue_channel &c);

// The line rates the tool knows by number, each beside its terminal speed
// code. The simulated modem names the codes it finds on a line from this
// same table, so the two cannot disagree.
#pragma once

#include <termios.h>

struct rate_code {
    int rate;
    speed_t code;
};

// Each code is spelt from its rate, so no row can pair a rate with another's code.
#define LINE_RATE(n) rate_code{n, B##n}

constexpr rate_code rate_codes[] = {
    LINE_RATE(50),    LINE_RATE(75),    LINE_RATE(110),   LINE_RATE(134),
    LINE_RATE(150),   LINE_RATE(200),   LINE_RATE(300),   LINE_RATE(600),
    LINE_RATE(1200),  LINE_RATE(1800),  LINE_RATE(2400),  LINE_RATE(9600),
    LINE_RATE(19200), LINE_RATE(38400), LINE_RATE(57600), LINE_RATE(115200),
};
constexpr int rate_code_count = sizeof rate_codes / sizeof rate_codes[0];

// A rate the table lacks is taken for a line faster than any it lists, and
// gets the next standard one. (4800, between two rows, gets it too.)
constexpr rate_code fallback_rate = LINE_RATE(230400);

#undef LINE_RATE

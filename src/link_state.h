// The tool's whole state: a few process-wide variables that live for the run
// and start at zero, shared by the port code, the exchange and the entry.
#pragma once

#include <termios.h>

constexpr int reply_buf_size = 4096;

extern int port_fd;                  // > 0 once the modem port is open
extern speed_t port_speed;
extern struct termios port_settings;
extern int modem_lines;

extern char reply_buf[reply_buf_size];  // the last byte is never read into
extern int listing_active;

extern const char *at_command;
extern const char *at_expected;

void serial_open(int rate);
int serial_close();
void at_exchange(const char *command, const char *expected);

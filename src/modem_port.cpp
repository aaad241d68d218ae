// The modem's AT port: open it (the modem may still be enumerating on USB),
// put the line into raw 8N1 with DTR and RTS up, and close it at the end.
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include "line_rates.h"
#include "link_state.h"

#ifndef MODEM_DIALMODE_DEVICE
#define MODEM_DIALMODE_DEVICE "/dev/ttyACM2"
#endif

int port_fd;
speed_t port_speed;
struct termios port_settings;
int modem_lines;

constexpr char device_path[] = MODEM_DIALMODE_DEVICE;
constexpr int open_attempts = 20;
constexpr useconds_t open_retry_wait_us = 1000000;
constexpr useconds_t settle_wait_us = 2000000;

// Unrolled so that, for the one rate the tool asks for, the optimiser folds
// the lookup away and the table never reaches the router's flash.
static speed_t speed_code(int rate)
{
#pragma GCC unroll rate_code_count
    for (const rate_code &r : rate_codes)
        if (r.rate == rate)
            return r.code;
    return fallback_rate.code;
}

// Descriptor 0 is refused as well: it only comes back when standard input
// was closed, and such a port would be mistaken for "not open". It is left
// open on purpose, holding 0, so that the next attempt gets a descriptor
// above it; closed, every later open would return 0 again. A port that
// lands on descriptor 1 (standard output was closed) is moved up and 1 closed
// again, or the verdict meant for the console would go to the modem.
static void open_with_retries()
{
    for (int attempt = 0; attempt < open_attempts; attempt++) {
        port_fd = open(device_path, O_RDWR | O_NOCTTY | O_NONBLOCK);
        if (port_fd == STDOUT_FILENO) {
            port_fd = fcntl(STDOUT_FILENO, F_DUPFD, STDERR_FILENO + 1);
            close(STDOUT_FILENO);
        }
        if (port_fd > 0)
            return;
        usleep(open_retry_wait_us);
    }
}

void serial_open(int rate)
{
    port_speed = speed_code(rate);

    open_with_retries();
    if (port_fd <= 0) {
        fprintf(stderr, "Unable to open the serial port %s\n", device_path);
        exit(-1);
    }

    // Opened non-blocking only so that a missing carrier cannot stall the
    // open; the exchange wants reads that wait for the modem. Status flags
    // of the access mode alone clear O_NONBLOCK (F_SETFL ignores the access
    // mode itself).
    fcntl(port_fd, F_SETFL, O_RDWR);

    // The line the exchange relies on: raw bytes both ways (no echo, no
    // signals, no line editing or CR/LF translation); a read that waits for
    // one byte, then takes what is queued (cfmakeraw's VMIN 1, VTIME 0);
    // 8 data bits, no parity, one stop bit; the receiver on; the carrier
    // ignored (CLOCAL), so that a modem dropping DCD does not hang the line
    // up. It is stated here in full although cfmakeraw did part of it, since
    // CSTOPB, CREAD, CLOCAL and ECHOE are not cfmakeraw's to change. Left as
    // an earlier user set them, for a board whose modem needs them: HUPCL
    // (on by default, so the close drops DTR and RTS) and flow control
    // (CRTSCTS, IXOFF).
    tcgetattr(port_fd, &port_settings);
    cfmakeraw(&port_settings);
    cfsetispeed(&port_settings, port_speed);
    cfsetospeed(&port_settings, port_speed);
    port_settings.c_cflag &= ~static_cast<tcflag_t>(CSIZE | CSTOPB | PARENB);
    port_settings.c_cflag |= CS8 | CREAD | CLOCAL;
    port_settings.c_lflag &= ~static_cast<tcflag_t>(ISIG | ICANON | ECHO | ECHOE);
    port_settings.c_oflag &= ~static_cast<tcflag_t>(OPOST);
    tcsetattr(port_fd, TCSANOW, &port_settings);

    // Some modems ignore commands until the host asserts DTR and RTS.
    ioctl(port_fd, TIOCMGET, &modem_lines);
    modem_lines |= TIOCM_DTR | TIOCM_RTS;
    ioctl(port_fd, TIOCMSET, &modem_lines);

    usleep(settle_wait_us);
}

int serial_close()
{
    return close(port_fd);
}

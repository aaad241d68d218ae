// The modem as a USB device: a full-speed composite of three CDC-ACM
// functions, played to QEMU's usb-redir device over a unix socket in the
// usbredir protocol. A guest's cdc-acm driver makes ttyACM0..2 of them in
// interface order, so the third function, the modem, is a real ttyACM2.
#pragma once

#include <stdint.h>

#include <string>
#include <vector>

struct usbredirparser;

// The modem lines a CDC-ACM device reports in its SERIAL_STATE notification,
// and their names in scripts and records.
constexpr unsigned usb_dcd = 0x01;
constexpr unsigned usb_dsr = 0x02;
constexpr unsigned usb_ri = 0x08;

struct usb_line_name {
    unsigned bit;
    const char *name;
};
constexpr usb_line_name usb_state_lines[] = {{usb_dcd, "dcd"}, {usb_dsr, "dsr"}, {usb_ri, "ri"}};

struct usb_event {
    int64_t us;
    std::string what;
};

// The modem's other ports (the functions before it): AT command ports that
// answer what they are asked at once.
constexpr int usb_at_ports = 2;
struct usb_at_port {
    std::string line;    // what the host has written since the last carriage return
    std::string to_host; // the answers, until the host takes them
};
// Takes bytes the host wrote to an AT port, whose line so far is LINE; returns
// the answers to the commands they end.
std::string at_port_take(std::string &line, const char *bytes, size_t n);

// A bulk IN transfer that the host has asked for and waits on.
struct usb_in_request {
    uint64_t id;
    uint8_t endpoint;
    uint32_t length;
};

struct usb_acm {
    int listener = -1;
    int peer = -1;              // QEMU, once it has connected
    std::string socket_path;
    usbredirparser *parser = nullptr;
    bool peer_ready = false;    // QEMU's hello has come: its capabilities are known
    bool want_plugged = false;
    bool plugged = false;
    uint8_t configuration = 0;
    std::vector<usb_in_request> waiting;
    bool notify_started = false; // QEMU takes interrupt packets for the modem's notifications
    bool state_due = false;
    unsigned serial_state = 0;
    unsigned control_lines = 0;  // as last set by the host: bit 0 DTR, bit 1 RTS
    uint8_t line_coding[7] = {0x80, 0x25, 0, 0, 0, 0, 8}; // 9600 8N1 until the host sets it
    std::string from_host;       // what the host wrote to the modem, for the engine to take
    std::string to_host;         // the modem's send queue, until the host takes it
    usb_at_port at_ports[usb_at_ports];
    std::vector<usb_event> events;
    int64_t now_us = 0;
};

bool usb_listen(usb_acm &u, const char *path, std::string &error);
// Accepts QEMU, takes what it sent, answers and sends what is due; never
// blocks. Events are stamped with now_us.
void usb_service(usb_acm &u, int64_t now_us);
int usb_poll_fd(const usb_acm &u);
short usb_poll_events(const usb_acm &u);
// Plugging waits, if need be, until QEMU has connected and said hello.
void usb_plug(usb_acm &u);
void usb_unplug(usb_acm &u);
// Queues bytes for the host as far as the modem's buffer has room; returns
// how many it took.
size_t usb_send(usb_acm &u, const char *bytes, size_t n);
void usb_set_serial_state(usb_acm &u, unsigned lines);
// Adds WHAT to the events the record lists, at the time of the last service.
void usb_note(usb_acm &u, const std::string &what);
void usb_close(usb_acm &u);

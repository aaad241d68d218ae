// The USB side of the simulated modem. QEMU's usb-redir device stands on the
// guest's bus and forwards every transfer to us; we answer as the device
// would: its descriptors in usb_descriptors.cpp, here the modem's class
// requests and data. usbredirparser (Debian's usbredir) speaks the protocol.
#include <errno.h>
#include <poll.h>
#include <stdio.h>
#include <string.h>
#include <sys/socket.h>
#include <unistd.h>
#include <usbredirparser.h>

#include "cues.h"
#include "usb_acm.h"
#include "usb_descriptors.h"

namespace {

// A modem's own buffer: past this the engine holds bytes back, as a full
// pseudo-terminal would.
constexpr size_t send_queue_max = 4096;

static_assert(usb_at_ports == modem_function, "the functions before the modem are its AT ports");

usb_acm &acm(void *priv) { return *static_cast<usb_acm *>(priv); }


// Bits 0 and 1 of SET_CONTROL_LINE_STATE.
constexpr unsigned control_dtr = 1, control_rts = 2;
constexpr usb_line_name control_line_names[] = {{control_dtr, "dtr"}, {control_rts, "rts"}};

// "dtr rts", or "none".
template <size_t n>
std::string lines_text(unsigned lines, const usb_line_name (&names)[n])
{
    std::string text;
    for (const usb_line_name &l : names)
        if (lines & l.bit)
            text += std::string(text.empty() ? "" : " ") + l.name;
    return text.empty() ? "none" : text;
}

// "115200 8N1", as stty and modem manuals write a line.
std::string coding_text(const uint8_t c[7])
{
    unsigned long rate = 0;
    for (int i = 3; i >= 0; i--)
        rate = rate << 8 | c[i];
    static const char parity[] = "NOEMS";
    static const char *const stops[] = {"1", "1.5", "2"};
    return std::to_string(rate) + " " + std::to_string(c[6]) + (c[5] < 5 ? parity[c[5]] : '?') +
           (c[4] < 3 ? stops[c[4]] : "?");
}

void log_line(void *, int level, const char *msg)
{
    if (level <= usbredirparser_warning)
        (void)fprintf(stderr, "sim-modem: usbredir: %s\n", msg);
}

int read_peer(void *priv, uint8_t *data, int count)
{
    ssize_t n = read(acm(priv).peer, data, static_cast<size_t>(count));
    if (n > 0)
        return static_cast<int>(n);
    return n < 0 && (errno == EAGAIN || errno == EINTR) ? 0 : -1;
}

int write_peer(void *priv, uint8_t *data, int count)
{
    ssize_t n = send(acm(priv).peer, data, static_cast<size_t>(count), MSG_NOSIGNAL);
    if (n >= 0)
        return static_cast<int>(n);
    return errno == EAGAIN || errno == EINTR ? 0 : -1;
}

void send_connect(usb_acm &u)
{
    usb_redir_device_connect_header device;
    usb_redir_interface_info_header interfaces;
    usb_redir_ep_info_header endpoints;
    describe_device(device, interfaces, endpoints);
    // QEMU checks a device against its interfaces when it connects.
    usbredirparser_send_interface_info(u.parser, &interfaces);
    usbredirparser_send_ep_info(u.parser, &endpoints);
    usbredirparser_send_device_connect(u.parser, &device);
    u.plugged = true;
    usb_note(u, "plugged");
}

// Everything the device knew goes with it; what the host had sent stays taken.
void forget_device(usb_acm &u)
{
    u.plugged = false;
    u.configuration = 0;
    u.waiting.clear();
    u.notify_started = false;
    u.to_host.clear();
    u.control_lines = 0;
    for (usb_at_port &port : u.at_ports)
        port = {};
}

void on_hello(void *priv, usb_redir_hello_header *)
{
    usb_acm &u = acm(priv);
    u.peer_ready = true;
    if (u.want_plugged && !u.plugged)
        send_connect(u);
}

void on_reset(void *priv)
{
    usb_acm &u = acm(priv);
    u.configuration = 0;
    u.waiting.clear();
}

void on_set_configuration(void *priv, uint64_t id, usb_redir_set_configuration_header *h)
{
    usb_acm &u = acm(priv);
    usb_redir_configuration_status_header status{};
    status.status = h->configuration <= 1 ? usb_redir_success : usb_redir_stall;
    if (status.status == usb_redir_success) {
        u.configuration = h->configuration;
        u.notify_started = false;
        usb_note(u, "configured " + std::to_string(u.configuration));
    }
    status.configuration = u.configuration;
    usbredirparser_send_configuration_status(u.parser, id, &status);
}

void on_get_configuration(void *priv, uint64_t id)
{
    usb_acm &u = acm(priv);
    usb_redir_configuration_status_header status{usb_redir_success, u.configuration};
    usbredirparser_send_configuration_status(u.parser, id, &status);
}

void on_set_alt_setting(void *priv, uint64_t id, usb_redir_set_alt_setting_header *h)
{
    usb_redir_alt_setting_status_header status{};
    status.status = h->alt == 0 ? usb_redir_success : usb_redir_stall;
    status.interface = h->interface;
    usbredirparser_send_alt_setting_status(acm(priv).parser, id, &status);
}

void on_get_alt_setting(void *priv, uint64_t id, usb_redir_get_alt_setting_header *h)
{
    usb_redir_alt_setting_status_header status{usb_redir_success, h->interface, 0};
    usbredirparser_send_alt_setting_status(acm(priv).parser, id, &status);
}

// QEMU starts and stops taking an interrupt endpoint's packets; only the
// modem's notifications are ever sent.
void interrupt_receiving(void *priv, uint64_t id, uint8_t endpoint, bool on)
{
    usb_acm &u = acm(priv);
    if (endpoint == notify_endpoint(modem_function))
        u.notify_started = on;
    usb_redir_interrupt_receiving_status_header status{usb_redir_success, endpoint};
    usbredirparser_send_interrupt_receiving_status(u.parser, id, &status);
}

void on_start_interrupt(void *priv, uint64_t id, usb_redir_start_interrupt_receiving_header *h)
{
    interrupt_receiving(priv, id, h->endpoint, true);
}

void on_stop_interrupt(void *priv, uint64_t id, usb_redir_stop_interrupt_receiving_header *h)
{
    interrupt_receiving(priv, id, h->endpoint, false);
}

// The host has given up on a transfer (cdc-acm does so with its reads at
// every close): nothing may be sent into it, or those bytes are lost.
void on_cancel(void *priv, uint64_t id)
{
    usb_acm &u = acm(priv);
    for (size_t i = 0; i < u.waiting.size(); i++) {
        if (u.waiting[i].id != id)
            continue;
        usb_redir_bulk_packet_header h{};
        h.endpoint = u.waiting[i].endpoint;
        h.status = usb_redir_cancelled;
        u.waiting.erase(u.waiting.begin() + static_cast<long>(i));
        usbredirparser_send_bulk_packet(u.parser, id, &h, nullptr, 0);
        return;
    }
}

// A class request to the modem's communication interface: the line coding,
// the control lines, a break.
bool modem_request(usb_acm &u, const usb_redir_control_packet_header &h, const uint8_t *data,
                   int data_len, uint8_t *answer, int &answer_len)
{
    if (h.requesttype == 0x21 && h.request == 0x20 && data_len >= 7) {
        memcpy(u.line_coding, data, sizeof u.line_coding);
        usb_note(u, "line " + coding_text(u.line_coding));
    } else if (h.requesttype == 0xa1 && h.request == 0x21) {
        memcpy(answer, u.line_coding, sizeof u.line_coding);
        answer_len = sizeof u.line_coding;
    } else if (h.requesttype == 0x21 && h.request == 0x22) {
        // A notification sent while no one held the port open may have
        // been lost, so the state is told again whenever DTR rises.
        if ((h.value & control_dtr) && !(u.control_lines & control_dtr))
            u.state_due = true;
        u.control_lines = h.value & (control_dtr | control_rts);
        usb_note(u, "lines " + lines_text(u.control_lines, control_line_names));
    } else if (h.requesttype == 0x21 && h.request == 0x23) {
        usb_note(u, "break " + std::to_string(h.value));
    } else {
        return false;
    }
    return true;
}

void on_control(void *priv, uint64_t id, usb_redir_control_packet_header *h, uint8_t *data,
                int data_len)
{
    usb_acm &u = acm(priv);
    uint8_t answer[answer_max];
    int answer_len = 0;
    bool to_modem = (h->requesttype & 0x7f) == 0x21 && h->index == comm_interface(modem_function);
    bool to_other_port = (h->requesttype & 0x7f) == 0x21 && !to_modem;
    bool ok = to_other_port || (to_modem ? modem_request(u, *h, data, data_len, answer, answer_len)
                                         : standard_request(*h, answer, answer_len));
    usb_redir_control_packet_header reply = *h;
    reply.status = ok ? usb_redir_success : usb_redir_stall;
    bool in = h->requesttype & 0x80;
    if (in)
        reply.length = static_cast<uint16_t>(answer_len < h->length ? answer_len : h->length);
    else if (!ok)
        reply.length = 0;
    usbredirparser_send_control_packet(u.parser, id, &reply, in && ok ? answer : nullptr,
                                       in && ok ? reply.length : 0);
    if (data)
        usbredirparser_free_packet_data(u.parser, data);
}

void on_bulk(void *priv, uint64_t id, usb_redir_bulk_packet_header *h, uint8_t *data, int data_len)
{
    usb_acm &u = acm(priv);
    if (h->endpoint & 0x80) {
        u.waiting.push_back({id, h->endpoint, static_cast<uint32_t>(h->length_high) << 16 | h->length});
    } else {
        const char *bytes = reinterpret_cast<const char *>(data);
        if (h->endpoint == out_endpoint(modem_function) && data_len > 0) {
            u.from_host.append(bytes, static_cast<size_t>(data_len));
            usb_note(u, "data " + std::to_string(data_len));
        }
        for (int f = 0; f < usb_at_ports; f++)
            if (h->endpoint == out_endpoint(f) && data_len > 0)
                u.at_ports[f].to_host += at_port_take(u.at_ports[f].line, bytes, static_cast<size_t>(data_len));
        usb_redir_bulk_packet_header reply = *h;
        reply.status = usb_redir_success;
        usbredirparser_send_bulk_packet(u.parser, id, &reply, nullptr, 0);
    }
    if (data)
        usbredirparser_free_packet_data(u.parser, data);
}

void on_interrupt(void *priv, uint64_t, usb_redir_interrupt_packet_header *, uint8_t *data, int)
{
    if (data)
        usbredirparser_free_packet_data(acm(priv).parser, data);
}

void start_parser(usb_acm &u)
{
    u.parser = usbredirparser_create();
    u.parser->priv = &u;
    u.parser->log_func = log_line;
    u.parser->read_func = read_peer;
    u.parser->write_func = write_peer;
    u.parser->hello_func = on_hello;
    u.parser->reset_func = on_reset;
    u.parser->set_configuration_func = on_set_configuration;
    u.parser->get_configuration_func = on_get_configuration;
    u.parser->set_alt_setting_func = on_set_alt_setting;
    u.parser->get_alt_setting_func = on_get_alt_setting;
    u.parser->start_interrupt_receiving_func = on_start_interrupt;
    u.parser->stop_interrupt_receiving_func = on_stop_interrupt;
    u.parser->cancel_data_packet_func = on_cancel;
    u.parser->control_packet_func = on_control;
    u.parser->bulk_packet_func = on_bulk;
    u.parser->interrupt_packet_func = on_interrupt;
    uint32_t caps[USB_REDIR_CAPS_SIZE] = {};
    usbredirparser_caps_set_cap(caps, usb_redir_cap_connect_device_version);
    usbredirparser_caps_set_cap(caps, usb_redir_cap_ep_info_max_packet_size);
    usbredirparser_caps_set_cap(caps, usb_redir_cap_64bits_ids);
    // With these three QEMU also puts the modem on an xHCI controller.
    usbredirparser_caps_set_cap(caps, usb_redir_cap_32bits_bulk_length);
    usbredirparser_init(u.parser, "sim-modem", caps, USB_REDIR_CAPS_SIZE, usbredirparser_fl_usb_host);
}

void drop_peer(usb_acm &u)
{
    if (u.parser)
        usbredirparser_destroy(u.parser);
    u.parser = nullptr;
    if (u.peer >= 0)
        close(u.peer);
    u.peer = -1;
    u.peer_ready = false;
    if (u.plugged)
        usb_note(u, "host gone");
    forget_device(u);
}

// The queue of what the modem, or one of its AT ports, sends on ENDPOINT.
std::string *send_queue(usb_acm &u, uint8_t endpoint)
{
    if (endpoint == in_endpoint(modem_function))
        return &u.to_host;
    for (int f = 0; f < usb_at_ports; f++)
        if (endpoint == in_endpoint(f))
            return &u.at_ports[f].to_host;
    return nullptr;
}

// Answers the host's waiting reads from the send queues, and reports the
// modem lines when they are due and the host listens for them.
void deliver(usb_acm &u)
{
    for (size_t i = 0; i < u.waiting.size();) {
        usb_in_request r = u.waiting[i];
        std::string *queue = send_queue(u, r.endpoint);
        if (!queue || queue->empty()) {
            i++;
            continue;
        }
        size_t n = queue->size() < r.length ? queue->size() : r.length;
        usb_redir_bulk_packet_header h{};
        h.endpoint = r.endpoint;
        h.status = usb_redir_success;
        h.length = static_cast<uint16_t>(n);
        h.length_high = static_cast<uint16_t>(n >> 16);
        usbredirparser_send_bulk_packet(u.parser, r.id, &h,
                                        reinterpret_cast<uint8_t *>(queue->data()), static_cast<int>(n));
        queue->erase(0, n);
        u.waiting.erase(u.waiting.begin() + static_cast<long>(i));
    }
    if (u.state_due && u.notify_started && u.plugged) {
        const int c = comm_interface(modem_function);
        uint8_t n[10] = {0xa1, 0x20, 0, 0, static_cast<uint8_t>(c), 0, 2, 0,
                         static_cast<uint8_t>(u.serial_state), 0};
        usb_redir_interrupt_packet_header h{notify_endpoint(modem_function), usb_redir_success, sizeof n};
        usbredirparser_send_interrupt_packet(u.parser, 0, &h, n, sizeof n);
        u.state_due = false;
        usb_note(u, "state " + lines_text(u.serial_state, usb_state_lines));
    }
}

} // namespace

bool usb_listen(usb_acm &u, const char *path, std::string &error)
{
    u.socket_path = path;
    return unix_listen(path, u.listener, error);
}

void usb_note(usb_acm &u, const std::string &what)
{
    u.events.push_back({u.now_us, what});
}

void usb_service(usb_acm &u, int64_t now_us)
{
    u.now_us = now_us;
    if (u.peer < 0 && u.listener >= 0) {
        u.peer = accept4(u.listener, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (u.peer < 0)
            return;
        start_parser(u);
    }
    if (u.peer < 0)
        return;
    if (usbredirparser_do_read(u.parser) == usbredirparser_read_io_error) {
        drop_peer(u);
        return;
    }
    deliver(u);
    if (usbredirparser_has_data_to_write(u.parser) && usbredirparser_do_write(u.parser) != 0)
        drop_peer(u);
}

int usb_poll_fd(const usb_acm &u)
{
    return u.peer >= 0 ? u.peer : u.listener;
}

short usb_poll_events(const usb_acm &u)
{
    bool output = u.parser && usbredirparser_has_data_to_write(u.parser);
    return static_cast<short>(POLLIN | (output ? POLLOUT : 0));
}

void usb_plug(usb_acm &u)
{
    u.want_plugged = true;
    if (u.peer_ready && !u.plugged)
        send_connect(u);
}

void usb_unplug(usb_acm &u)
{
    u.want_plugged = false;
    if (!u.plugged)
        return;
    usbredirparser_send_device_disconnect(u.parser);
    forget_device(u);
    usb_note(u, "unplugged");
}

size_t usb_send(usb_acm &u, const char *bytes, size_t n)
{
    if (!u.plugged)
        return 0;
    size_t room = send_queue_max - u.to_host.size();
    if (n > room)
        n = room;
    u.to_host.append(bytes, n);
    return n;
}

void usb_set_serial_state(usb_acm &u, unsigned lines)
{
    u.serial_state = lines;
    u.state_due = true;
}

void usb_close(usb_acm &u)
{
    drop_peer(u);
    if (u.listener >= 0) {
        close(u.listener);
        unlink(u.socket_path.c_str());
    }
    u.listener = -1;
}

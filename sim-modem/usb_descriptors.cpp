// The simulated USB modem's descriptors, and its answers to the standard
// requests that read them.
#include <string.h>

#include <array>

#include "usb_descriptors.h"

namespace {

constexpr int functions = 3;
// USB's class codes and transfer types (usbredir numbers the types alike).
constexpr int comm_class = 2, acm_subclass = 2, at_protocol = 1, data_class = 0x0a;
constexpr uint8_t transfer_control = 0, transfer_bulk = 2, transfer_interrupt = 3, transfer_none = 255;
constexpr uint8_t control_packet_max = 64;
constexpr uint16_t bulk_packet_max = 64;
constexpr uint16_t notify_packet_max = 16;
constexpr uint8_t notify_interval_ms = 16;

// Linux Foundation's composite-gadget identity: no driver has quirks for it.
constexpr uint16_t vendor_id = 0x1d6b;
constexpr uint16_t product_id = 0x0104;
constexpr std::array<uint8_t, 18> device_descriptor = {
    18, 1, 0x10, 0x01,   // device, USB 1.1
    0xef, 0x02, 0x01,    // composite of functions, each named by an association
    control_packet_max,
    vendor_id & 0xff, vendor_id >> 8, product_id & 0xff, product_id >> 8,
    0x00, 0x01, 0, 0, 0, // release 1.00, no strings
    1};

constexpr size_t function_size = 8 + 9 + 5 + 5 + 4 + 5 + 7 + 9 + 7 + 7;
constexpr size_t config_size = 9 + functions * function_size;

// Per function: an association, the communication interface with its
// class descriptors and notification endpoint, then the data interface.
constexpr std::array<uint8_t, config_size> make_config()
{
    std::array<uint8_t, config_size> d{};
    size_t i = 0;
    auto put = [&](std::initializer_list<int> bytes) {
        for (int b : bytes)
            d[i++] = static_cast<uint8_t>(b);
    };
    put({9, 2, config_size & 0xff, config_size >> 8, 2 * functions, 1, 0, 0x80, 50});
    for (int f = 0; f < functions; f++) {
        const int c = comm_interface(f), data = data_interface(f);
        put({8, 0x0b, c, 2, comm_class, acm_subclass, at_protocol, 0});
        put({9, 4, c, 0, 1, comm_class, acm_subclass, at_protocol, 0});
        put({5, 0x24, 0x00, 0x10, 0x01});                 // CDC header 1.10
        put({5, 0x24, 0x01, 0x00, data});                 // call management
        put({4, 0x24, 0x02, 0x02});                       // line coding and lines
        put({5, 0x24, 0x06, c, data});                    // union
        put({7, 5, notify_endpoint(f), transfer_interrupt, notify_packet_max, 0, notify_interval_ms});
        put({9, 4, data, 0, 2, data_class, 0, 0, 0});
        put({7, 5, in_endpoint(f), transfer_bulk, bulk_packet_max, 0, 0});
        put({7, 5, out_endpoint(f), transfer_bulk, bulk_packet_max, 0, 0});
    }
    return d;
}
constexpr std::array<uint8_t, config_size> config_descriptor = make_config();

// usbredir's endpoint index: OUT endpoints 0..15, IN endpoints 16..31.
constexpr int endpoint_index(uint8_t address) { return ((address & 0x80) >> 3) | (address & 0x0f); }

static_assert(config_size <= answer_max);

} // namespace

// The interfaces and endpoints are read from the configuration descriptor
// itself, so that what QEMU is told and what the guest reads cannot disagree.
void describe_device(usb_redir_device_connect_header &device, usb_redir_interface_info_header &interfaces,
                     usb_redir_ep_info_header &endpoints)
{
    device = {};
    device.speed = usb_redir_speed_full;
    device.device_class = device_descriptor[4];
    device.device_subclass = device_descriptor[5];
    device.device_protocol = device_descriptor[6];
    device.vendor_id = vendor_id;
    device.product_id = product_id;
    device.device_version_bcd = 0x0100;
    interfaces = {};
    endpoints = {};
    memset(endpoints.type, transfer_none, sizeof endpoints.type);
    for (uint8_t address : {uint8_t{0x00}, uint8_t{0x80}}) {
        endpoints.type[endpoint_index(address)] = transfer_control;
        endpoints.max_packet_size[endpoint_index(address)] = control_packet_max;
    }
    uint8_t interface = 0;
    for (size_t at = 0; at < config_descriptor.size(); at += config_descriptor[at]) {
        const uint8_t *d = config_descriptor.data() + at;
        if (d[1] == 4) {
            interface = d[2];
            uint32_t n = interfaces.interface_count++;
            interfaces.interface[n] = interface;
            interfaces.interface_class[n] = d[5];
            interfaces.interface_subclass[n] = d[6];
            interfaces.interface_protocol[n] = d[7];
        } else if (d[1] == 5) {
            int i = endpoint_index(d[2]);
            endpoints.type[i] = d[3] & 3;
            endpoints.interface[i] = interface;
            endpoints.max_packet_size[i] = static_cast<uint16_t>(d[4] | d[5] << 8);
            endpoints.interval[i] = d[6];
        }
    }
}

bool standard_request(const usb_redir_control_packet_header &h, uint8_t *answer, int &answer_len)
{
    if (h.requesttype == 0x80 && h.request == 6) {
        const uint8_t *d = nullptr;
        size_t size = 0;
        if (h.value >> 8 == 1) {
            d = device_descriptor.data();
            size = device_descriptor.size();
        } else if (h.value >> 8 == 2 && (h.value & 0xff) == 0) {
            d = config_descriptor.data();
            size = config_descriptor.size();
        } else {
            return false;
        }
        memcpy(answer, d, size);
        answer_len = static_cast<int>(size);
    } else if ((h.requesttype & 0xfc) == 0x80 && h.request == 0) {
        answer[0] = answer[1] = 0;
        answer_len = 2;
    } else if (!((h.requesttype & 0xfc) == 0 && (h.request == 1 || h.request == 3))) {
        return false;
    }
    return true;
}


// What the simulated USB modem is, as its descriptors tell the host: a
// full-speed composite of three CDC-ACM functions. usb_acm.cpp carries it.
#pragma once

#include <stddef.h>
#include <stdint.h>
#include <usbredirparser.h>

// cdc-acm numbers its ports in interface order: function 2 is ttyACM2.
constexpr int modem_function = 2;
constexpr uint8_t comm_interface(int f) { return static_cast<uint8_t>(2 * f); }
constexpr uint8_t data_interface(int f) { return static_cast<uint8_t>(2 * f + 1); }
constexpr uint8_t notify_endpoint(int f) { return static_cast<uint8_t>(0x81 + 2 * f); }
constexpr uint8_t in_endpoint(int f) { return static_cast<uint8_t>(0x82 + 2 * f); }
constexpr uint8_t out_endpoint(int f) { return static_cast<uint8_t>(0x02 + 2 * f); }

// Room for the longest answer to a standard request.
constexpr size_t answer_max = 256;

// What QEMU is told of the device when it is plugged in.
void describe_device(usb_redir_device_connect_header &device, usb_redir_interface_info_header &interfaces,
                     usb_redir_ep_info_header &endpoints);
// Answers a standard request to the device (its descriptors, status and
// features) in answer; false when the device stalls it.
bool standard_request(const usb_redir_control_packet_header &h, uint8_t *answer, int &answer_len);

#pragma once

// Test side of the infrared network camera's device library: simulated
// devices found by address, their records and rule temperatures, their
// streams. No socket is opened: a login matches its address text against the
// devices here, and the local addresses are simulated interfaces.

#include "simdevice.h"

#include <cstdint>
#include <string>
#include <vector>

struct IrDevice {
    std::string serial;
    std::string address;
    std::string userName = "admin";
    std::string password = "qrst5678";
    int channels = 1;           // 1 thermal only; 2 visible (1) and thermal (2)
    int resolutionCode = 76;    // what the stream configuration reports
    int width = 640;            // the stream's picture size
    int height = 512;
    double picturesPerSecond = 0;  // 0: pictures only when pumped
};

// The library's world: call log, injected failures (failNext with an error
// code of NET_DVR_GetLastError), device presence (vanish, comeBack by serial).
simdev::Simulator& hcnetSimulator();
// Forgets devices, logins, streams, records and local addresses.
void hcnetReset();
bool hcnetAddDevice(const IrDevice& device);
// The simulated interfaces' address texts (at most 16 of at most 15 characters).
void hcnetSetLocalAddresses(const std::vector<std::string>& addresses);
// Temperatures of a rule (id 1 to 255) at record bytes 0, 4 and 8; a rule
// without temperatures cannot be read.
void hcnetSetRuleTemperatures(const std::string& serial, int rule, float t0, float t4, float t8);
void hcnetClearRuleTemperatures(const std::string& serial);
// The record last written with a Set command (by that command number) for a
// channel, or the camera's own record the driver reads (by the get command)
// before it was written; empty when there is none.
std::vector<unsigned char> hcnetRecord(const std::string& serial, int channel, int command);
// Gives the camera's own record for a get command before any write.
void hcnetSetRecord(const std::string& serial, int channel, int command, const std::vector<unsigned char>& bytes);
// The last login record's bytes.
std::vector<unsigned char> hcnetLastLogin();
// Logged-in users and running streams.
int hcnetLogins();
int hcnetStreams();
// Pictures into the streams of that device and channel: the number accepted
// (0 while no stream runs or the device is away).
int hcnetPump(const std::string& serial, int channel, int pictures = 1);
// Until the streams' headers and every pumped picture were handed to the
// stream callback (a device that is away sends neither).
bool hcnetWaitIdle(const std::string& serial, int channel, int timeoutMs = 10000);
// The picture size the device's streams send from now on (header and data).
void hcnetSetPictureSize(const std::string& serial, int width, int height);
void hcnetSetPictureRate(const std::string& serial, double picturesPerSecond);

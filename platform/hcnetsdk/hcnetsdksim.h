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
    // A device of the devices file: its pictures show a warm mould half with
    // two hot cavities, and its rules measure that scene (°C).
    bool scene = false;
    double ambient = 30;
    double hot = 180;
};

// The devices file's section "HCNetSDK", read at the first NET_DVR_Init
// unless a test configured the library first (tests call it after
// hcnetReset): each entry {"serial": "...", "address":
// "127.0.0.64", "channels": 1, "width": 640, "height": 512, "fps": 10,
// "ambient": 30, "hot": 180} (all but serial optional, these the defaults) is a
// scene device, and every device's network x.y.z gets the local interface
// x.y.z.1. The size must be one the stream configuration can report.
void hcnetReadDevicesFile();
// The resolution code the stream configuration reports for a size; 0 for none.
int hcnetResolutionCode(int width, int height);
// The scene's temperature at (x, y), each 0 to 1 across the picture, when the
// cavities stand at hotNow.
double hcnetSceneTemperature(const IrDevice& device, double x, double y, double hotNow);
// The cavities' temperature now: hot, rising and falling by 6 °C over a
// one-minute moulding rhythm.
double hcnetSceneHot(const IrDevice& device);

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

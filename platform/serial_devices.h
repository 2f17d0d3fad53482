// serial_devices: the serial devices of this machine, numbered for the port settings.
//
// Port n is the n-th device of the list (1-based): first /dev/ttyS* (only those with a UART behind
// them), then /dev/ttyUSB*, then /dev/ttyACM*, each in numeric order, then the devices that only
// /dev/serial/by-id names, in the order of those names. A by-id link to a device already listed is
// resolved once and only adds its stable name. Stateless; safe from any thread.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace tarvane {

struct TSerialDevice {
  std::string Path;  // the device node to open
  std::string ById;  // its name under serial/by-id, or empty
};

std::vector<TSerialDevice> ListSerialDevices(const std::filesystem::path& dev_root = "/dev",
                                             const std::filesystem::path& sys_root = "/sys");

// The device of port `port` (1-based), or empty when there is no such port.
std::string SerialDevicePath(int port, const std::filesystem::path& dev_root = "/dev",
                             const std::filesystem::path& sys_root = "/sys");

}  // namespace tarvane

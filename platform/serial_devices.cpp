#include "serial_devices.h"

#include <algorithm>
#include <fstream>
#include <iterator>
#include <system_error>

namespace tarvane {

namespace fs = std::filesystem;

namespace {

constexpr const char* kFamilies[] = {"ttyS", "ttyUSB", "ttyACM"};

struct Candidate {
  int family;
  long number;
  std::string name;
};

// "ttyUSB12" gives family 1, number 12; false for any other name.
bool ParseName(const std::string& name, int& family, long& number) {
  for (int f = 0; f < static_cast<int>(std::size(kFamilies)); ++f) {
    const std::string prefix = kFamilies[f];
    if (name.size() <= prefix.size() || name.compare(0, prefix.size(), prefix) != 0) continue;
    const std::string digits = name.substr(prefix.size());
    if (digits.size() > 9 || !std::all_of(digits.begin(), digits.end(), [](char c) {
          return c >= '0' && c <= '9';
        })) {
      continue;
    }
    family = f;
    number = std::stol(digits);
    return true;
  }
  return false;
}

// The kernel creates every ttyS node whether or not a UART answers; sysfs gives the phantoms type 0.
bool IsPhantomUart(const fs::path& sys_root, const std::string& name) {
  std::ifstream in(sys_root / "class" / "tty" / name / "type");
  int type = -1;
  return in && (in >> type) && type == 0;
}

std::string Canonical(const fs::path& p) {
  std::error_code ec;
  fs::path c = fs::canonical(p, ec);
  return ec ? std::string() : c.string();
}

}  // namespace

std::vector<TSerialDevice> ListSerialDevices(const fs::path& dev_root, const fs::path& sys_root) {
  std::vector<Candidate> found;
  std::error_code ec;
  for (fs::directory_iterator it(dev_root, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string name = it->path().filename().string();
    int family = 0;
    long number = 0;
    if (!ParseName(name, family, number)) continue;
    std::error_code type_ec;
    if (it->is_directory(type_ec) || !it->exists(type_ec)) continue;
    if (family == 0 && IsPhantomUart(sys_root, name)) continue;
    found.push_back({family, number, name});
  }
  std::sort(found.begin(), found.end(), [](const Candidate& a, const Candidate& b) {
    return a.family != b.family ? a.family < b.family : a.number < b.number;
  });

  std::vector<TSerialDevice> devices;
  std::vector<std::string> identities;  // canonical path of each listed device, resolved once
  for (const Candidate& c : found) {
    const fs::path path = dev_root / c.name;
    std::string identity = Canonical(path);
    if (identity.empty()) identity = path.string();
    if (std::find(identities.begin(), identities.end(), identity) != identities.end()) continue;
    identities.push_back(identity);
    devices.push_back({path.string(), {}});
  }

  std::vector<fs::path> links;
  for (fs::directory_iterator it(dev_root / "serial" / "by-id", ec), end; !ec && it != end;
       it.increment(ec)) {
    links.push_back(it->path());
  }
  std::sort(links.begin(), links.end());
  for (const fs::path& link : links) {
    const std::string identity = Canonical(link);
    if (identity.empty()) continue;  // dangling: the device is gone
    std::error_code type_ec;
    if (fs::is_directory(identity, type_ec)) continue;
    auto known = std::find(identities.begin(), identities.end(), identity);
    if (known != identities.end()) {
      TSerialDevice& device = devices[static_cast<size_t>(known - identities.begin())];
      if (device.ById.empty()) device.ById = link.string();
      continue;
    }
    identities.push_back(identity);
    devices.push_back({identity, link.string()});
  }
  return devices;
}

std::string SerialDevicePath(int port, const fs::path& dev_root, const fs::path& sys_root) {
  if (port < 1) return {};
  const std::vector<TSerialDevice> devices = ListSerialDevices(dev_root, sys_root);
  if (static_cast<size_t>(port) > devices.size()) return {};
  return devices[static_cast<size_t>(port) - 1].Path;
}

}  // namespace tarvane

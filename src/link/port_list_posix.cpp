// The serial ports from sysfs: every tty of /sys/class/tty with a device behind it, and for
// USB adapters what the USB interface and device above it say. Only files are read; no port
// is opened.

#include <algorithm>
#include <charconv>
#include <fstream>
#include <optional>
#include <utility>

#include "port_list.h"

namespace tarnix {

namespace fs = std::filesystem;

namespace {

// A stable link and the device it leads to.
using StableLinks = std::vector<std::pair<fs::path, std::string>>;

// The first line of a sysfs attribute without its line end; "" when there is none.
std::string ReadAttribute(const fs::path& file) {
    std::ifstream in(file);
    std::string line;
    std::getline(in, line);
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r' || line.back() == ' ')) {
        line.pop_back();
    }
    return line;
}

// Whole text as a number in `base`, else UNKNOWN_NUMBER (sysfs attributes are not ours).
int ParseNumber(std::string_view text, int base) {
    int value = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, base);
    bool whole = error == std::errc() && end == text.data() + text.size() && !text.empty();
    return whole ? value : UNKNOWN_NUMBER;
}

int ReadNumber(const fs::path& file, int base) {
    return ParseNumber(ReadAttribute(file), base);
}

// "ttyS2" before "ttyS10": the name without its number, then the number.
std::pair<std::string, int> NameAndNumber(const std::string& name) {
    size_t digits = name.find_last_not_of("0123456789") + 1;
    int number = ParseNumber(std::string_view(name).substr(digits), 10);
    return {name.substr(0, digits), number};
}

std::vector<std::string> EntryNames(const fs::path& folder) {
    std::vector<std::string> names;
    std::error_code error;
    for (auto it = fs::directory_iterator(folder, error); !error && it != fs::directory_iterator();
         it.increment(error)) {
        names.push_back(it->path().filename().string());
    }
    std::sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
        return NameAndNumber(a) < NameAndNumber(b);
    });
    return names;
}

// The links of /dev/serial/by-id, each with the device it names (the links are relative).
StableLinks ReadStableLinks(const fs::path& devRoot) {
    StableLinks links;
    fs::path folder = devRoot / "serial" / "by-id";
    for (const std::string& name : EntryNames(folder)) {
        std::error_code error;
        fs::path target = fs::read_symlink(folder / name, error);
        if (!error) {
            links.emplace_back((folder / target).lexically_normal(), (folder / name).string());
        }
    }
    return links;
}

std::string StableNameOf(const StableLinks& links, const fs::path& device) {
    for (const auto& [target, link] : links) {
        if (target == device.lexically_normal()) {
            return link;
        }
    }
    return "";
}

void AddUsbDevice(const fs::path& folder, SerialPortInfo* port) {
    port->vendorId = ReadAttribute(folder / "idVendor");
    port->productId = ReadAttribute(folder / "idProduct");
    port->manufacturer = ReadAttribute(folder / "manufacturer");
    port->product = ReadAttribute(folder / "product");
    port->serialNumber = ReadAttribute(folder / "serial");
}

// Up from the tty's device: the first folder with bInterfaceNumber is its USB interface, the
// first with idVendor the USB device. A port on no USB bus reaches the sysfs root first.
void AddUsbDetails(const fs::path& deviceFolder, const fs::path& sysfsRoot, SerialPortInfo* port) {
    for (fs::path folder = deviceFolder; folder != sysfsRoot && folder.has_relative_path();
         folder = folder.parent_path()) {
        if (port->interfaceNumber == UNKNOWN_NUMBER && fs::exists(folder / "bInterfaceNumber")) {
            port->interfaceNumber = ReadNumber(folder / "bInterfaceNumber", 16);
        }
        if (fs::exists(folder / "idVendor")) {
            AddUsbDevice(folder, port);
            return;
        }
    }
}

std::string LinkName(const fs::path& link) {
    std::error_code error;
    fs::path target = fs::read_symlink(link, error);
    return error ? std::string() : target.filename().string();
}

// The driver of the tty's device. Since Linux 6.5 a UART's tty hangs below two devices of the
// serial core's own bus ("serial-base", drivers "ctrl" and "port"): the driver that tells the
// hardware (serial8250, pl011) is that of the first device above them.
std::string DriverOf(const fs::path& deviceFolder) {
    fs::path folder = deviceFolder;
    while (LinkName(folder / "subsystem") == "serial-base" && folder.has_relative_path()) {
        folder = folder.parent_path();
    }
    return LinkName(folder / "driver");
}

std::optional<SerialPortInfo> DescribeTty(const fs::path& sysfsRoot, const fs::path& ttyFolder,
                                          const fs::path& device, const StableLinks& links) {
    std::error_code error;
    fs::path deviceFolder = fs::canonical(ttyFolder / "device", error);
    if (error || ReadAttribute(ttyFolder / "type") == "0") {
        return std::nullopt;
    }
    SerialPortInfo port;
    port.device = device.string();
    port.stableName = StableNameOf(links, device);
    port.driver = DriverOf(deviceFolder);
    port.latencyTimerMs = ReadNumber(deviceFolder / "latency_timer", 10);
    AddUsbDetails(deviceFolder, sysfsRoot, &port);
    return port;
}

}  // namespace

std::vector<SerialPortInfo> ListSerialPortsIn(const fs::path& sysfsRoot, const fs::path& devRoot) {
    std::error_code error;
    fs::path root = fs::canonical(sysfsRoot, error);
    if (error) {
        return {};
    }
    StableLinks links = ReadStableLinks(devRoot);
    std::vector<SerialPortInfo> ports;
    fs::path classTty = root / "class" / "tty";
    for (const std::string& name : EntryNames(classTty)) {
        std::optional<SerialPortInfo> port =
            DescribeTty(root, classTty / name, devRoot / name, links);
        if (port) {
            ports.push_back(*port);
        }
    }
    return ports;
}

std::vector<SerialPortInfo> ListSerialPorts() {
    return ListSerialPortsIn("/sys", "/dev");
}

}  // namespace tarnix

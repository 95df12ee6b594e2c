#include "ports_report.h"

#include "json_text.h"

namespace tarnix {

namespace {

// Appends ", <text>" (or just the text first) when the text is known.
void AppendPart(std::string* parts, const std::string& text) {
    if (text.empty()) {
        return;
    }
    if (!parts->empty()) {
        *parts += ", ";
    }
    *parts += text;
}

std::string Labeled(const char* label, const std::string& text) {
    return text.empty() ? text : label + text;
}

std::string Labeled(const char* label, int number, const char* unit) {
    return number == UNKNOWN_NUMBER ? "" : label + std::to_string(number) + unit;
}

// The name to give tarnix for a USB adapter: its usb: form where that names it alone, else its
// stable name or device. Other ports are named by the device that begins their line.
std::string AdapterPortName(const std::vector<SerialPortInfo>& ports, const SerialPortInfo& port) {
    return port.serialNumber.empty() ? std::string() : PortSelectingName(ports, port);
}

// What the system says of the port beyond its device name, in the order a reader looks.
std::string PortDetails(const std::vector<SerialPortInfo>& ports, const SerialPortInfo& port) {
    std::string parts;
    if (!port.vendorId.empty() || !port.productId.empty()) {
        AppendPart(&parts, "USB " + port.vendorId + ":" + port.productId);
    }
    AppendPart(&parts, port.manufacturer);
    AppendPart(&parts, port.product);
    AppendPart(&parts, Labeled("serial ", port.serialNumber));
    AppendPart(&parts, Labeled("interface ", port.interfaceNumber, ""));
    AppendPart(&parts, Labeled("driver ", port.driver));
    AppendPart(&parts, Labeled("latency timer ", port.latencyTimerMs, " ms"));
    AppendPart(&parts, Labeled("port ", AdapterPortName(ports, port)));
    return TerminalSafeText(parts);
}

// A text from the system, which may be any bytes: null when it is empty, and beside one that
// is not UTF-8 a "<name>_hex" member with its bytes.
std::string JsonText(const char* name, const std::string& text) {
    return text.empty() ? JsonQuote(name) + ": null" : JsonStringMember(name, text);
}

std::string JsonNumber(const char* name, int number) {
    std::string member = "\"";
    member += name;
    member += "\": ";
    member += number == UNKNOWN_NUMBER ? std::string("null") : std::to_string(number);
    return member;
}

std::string PortJson(const std::vector<SerialPortInfo>& ports, const SerialPortInfo& port) {
    const std::string members[] = {
        JsonText("device", port.device),
        JsonText("stable_name", port.stableName),
        JsonText("friendly_name", port.friendlyName),
        JsonText("vid", port.vendorId),
        JsonText("pid", port.productId),
        JsonText("manufacturer", port.manufacturer),
        JsonText("product", port.product),
        JsonText("serial_number", port.serialNumber),
        JsonNumber("interface", port.interfaceNumber),
        JsonText("driver", port.driver),
        JsonNumber("latency_timer_ms", port.latencyTimerMs),
        JsonText("usb_port", UsbPortForm(ports, port)),
        JsonText("port", PortSelectingName(ports, port)),
    };
    std::string object = "{";
    for (const std::string& member : members) {
        object += object.size() > 1 ? ", " : "";
        object += member;
    }
    return object + "}";
}

}  // namespace

std::string DescribePorts(const std::vector<SerialPortInfo>& ports) {
    std::string text;
    for (const SerialPortInfo& port : ports) {
        text += TerminalSafeText(port.device);
        if (!port.stableName.empty()) {
            text += " (" + TerminalSafeText(port.stableName) + ")";
        }
        if (!port.friendlyName.empty()) {
            text += " \"" + TerminalSafeText(port.friendlyName) + "\"";
        }
        std::string details = PortDetails(ports, port);
        text += details.empty() ? std::string() : ": " + details;
        text += '\n';
    }
    return text;
}

std::string PortsJson(const std::vector<SerialPortInfo>& ports) {
    std::string json = "{\"ports\": [";
    for (size_t i = 0; i < ports.size(); ++i) {
        json += i == 0 ? "\n  " : ",\n  ";
        json += PortJson(ports, ports[i]);
    }
    json += ports.empty() ? "]}\n" : "\n]}\n";
    return json;
}

}  // namespace tarnix

// The serial ports from SetupAPI: the present devices of the Ports class with a COM port name.
// Only the device registry is read; no port is opened.

// clang-format off
#include <windows.h>
#include <initguid.h>  // GUID_DEVCLASS_PORTS defined here, not taken from a library
#include <devguid.h>
#include <setupapi.h>
#include <cfgmgr32.h>
// clang-format on

#include <algorithm>
#include <cstdlib>

#include "port_list.h"

namespace tarnix {

namespace {

// A text property of the device; "" when it has none (for a list, its first string).
std::string DeviceProperty(HDEVINFO devices, SP_DEVINFO_DATA* device, DWORD property) {
    char buffer[1024] = {};
    if (!SetupDiGetDeviceRegistryPropertyA(devices, device, property, nullptr,
                                           reinterpret_cast<BYTE*>(buffer), sizeof buffer - 2,
                                           nullptr)) {
        return "";
    }
    return buffer;
}

std::string InstanceId(HDEVINFO devices, SP_DEVINFO_DATA* device) {
    char buffer[MAX_DEVICE_ID_LEN + 1] = {};
    if (!SetupDiGetDeviceInstanceIdA(devices, device, buffer, sizeof buffer, nullptr)) {
        return "";
    }
    return buffer;
}

// The instance ID of the device's parent: the USB device above one interface of a multi-port
// adapter, whose own instance ID holds the serial number.
std::string ParentInstanceId(DEVINST device) {
    DEVINST parent = 0;
    char buffer[MAX_DEVICE_ID_LEN + 1] = {};
    if (CM_Get_Parent(&parent, device, 0) != CR_SUCCESS ||
        CM_Get_Device_IDA(parent, buffer, sizeof buffer, 0) != CR_SUCCESS) {
        return "";
    }
    return buffer;
}

// "COM11" from the device's registry key; "" for a port of another kind (LPT1).
std::string PortName(HDEVINFO devices, SP_DEVINFO_DATA* device) {
    HKEY key = SetupDiOpenDevRegKey(devices, device, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_READ);
    if (key == INVALID_HANDLE_VALUE) {
        return "";
    }
    char buffer[256] = {};
    DWORD size = sizeof buffer - 1;
    DWORD type = 0;
    LONG status =
        RegQueryValueExA(key, "PortName", nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size);
    RegCloseKey(key);
    std::string name = (status == ERROR_SUCCESS && type == REG_SZ) ? buffer : "";
    return name.rfind("COM", 0) == 0 ? name : "";
}

SerialPortInfo DescribeDevice(HDEVINFO devices, SP_DEVINFO_DATA* device) {
    SerialPortInfo port;
    port.device = PortName(devices, device);
    port.friendlyName = DeviceProperty(devices, device, SPDRP_FRIENDLYNAME);
    port.manufacturer = DeviceProperty(devices, device, SPDRP_MFG);
    port.product = DeviceProperty(devices, device, SPDRP_DEVICEDESC);
    port.driver = DeviceProperty(devices, device, SPDRP_SERVICE);
    WindowsDeviceIds ids = ParseWindowsDeviceIds(DeviceProperty(devices, device, SPDRP_HARDWAREID),
                                                 InstanceId(devices, device));
    if (ids.serialNumber.empty() && ids.interfaceNumber != UNKNOWN_NUMBER) {
        ids.serialNumber = SerialFromUsbInstanceId(ParentInstanceId(device->DevInst));
    }
    port.vendorId = ids.vendorId;
    port.productId = ids.productId;
    port.interfaceNumber = ids.interfaceNumber;
    port.serialNumber = ids.serialNumber;
    return port;
}

int ComNumberOf(const SerialPortInfo& port) {
    return std::atoi(port.device.c_str() + 3);
}

}  // namespace

std::vector<SerialPortInfo> ListSerialPortsIn(const std::filesystem::path&,
                                              const std::filesystem::path&) {
    return {};  // Windows has no sysfs
}

std::vector<SerialPortInfo> ListSerialPorts() {
    std::vector<SerialPortInfo> ports;
    HDEVINFO devices = SetupDiGetClassDevsA(&GUID_DEVCLASS_PORTS, nullptr, nullptr, DIGCF_PRESENT);
    if (devices == INVALID_HANDLE_VALUE) {
        return ports;
    }
    SP_DEVINFO_DATA device = {};
    device.cbSize = sizeof device;
    for (DWORD index = 0; SetupDiEnumDeviceInfo(devices, index, &device); ++index) {
        SerialPortInfo port = DescribeDevice(devices, &device);
        if (!port.device.empty()) {
            ports.push_back(port);
        }
    }
    SetupDiDestroyDeviceInfoList(devices);
    std::sort(ports.begin(), ports.end(), [](const SerialPortInfo& a, const SerialPortInfo& b) {
        return ComNumberOf(a) < ComNumberOf(b);
    });
    return ports;
}

}  // namespace tarnix

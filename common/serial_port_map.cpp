#include "common/serial_port_map.h"

#include "common/product_registry.h"
#include "platform/registry.h"

#include <algorithm>
#include <string>

namespace {

// n for a value named "COM<n>" as the port name is spelled (any case, no
// leading zeros); 0 for any other name.
unsigned portOfValue(const std::string& name) {
    const unsigned n = platform::comPortNumber(name);
    return n != 0 && name.substr(3) == std::to_string(n) ? n : 0;
}

}  // namespace

platform::SerialPortMap ReadSerialPortMap() {
    platform::SerialPortMap ports;
    platform::RegistryKey key;
    if (platform::RegistryKey::open(platform::HKEY_CURRENT_USER, CommonKeyPath("SerialPorts"),
                                    platform::KEY_QUERY_VALUE, key) != ERROR_SUCCESS) {
        return ports;
    }
    for (DWORD i = 0;; ++i) {
        std::string name;
        platform::RegistryValue value;
        if (key.enumValue(i, name, &value) != ERROR_SUCCESS) break;
        const unsigned n = portOfValue(name);
        if (n == 0 || value.type != platform::REG_SZ) continue;
        std::string path(value.data.begin(), value.data.end());
        path.erase(std::find(path.begin(), path.end(), '\0'), path.end());
        if (!path.empty()) ports[n] = path;
    }
    return ports;
}

#pragma once
// The product's COM port map: the REG_SZ values "COM<n>" (data: the device
// path) under the shared key software\Quennel\Velmoor\Common\SerialPorts. Every
// module that opens a serial port by its COM name hands this map to the port.

#include "platform/serial_port.h"

// The map as it is stored now; empty when the key is missing. Values of another
// type, names that are not "COM<n>" and empty paths are left out.
platform::SerialPortMap ReadSerialPortMap();

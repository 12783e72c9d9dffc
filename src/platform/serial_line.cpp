#include "platform/serial_line.h"

#include "platform/network_line.h"

namespace rq::platform {

std::unique_ptr<SerialLine> MakeSerialLine(const std::string& name)
{
    if (IsNetworkPortName(name)) return std::make_unique<NetworkLine>();
    return std::make_unique<SerialPort>();
}

}  // namespace rq::platform

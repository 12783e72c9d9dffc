#include "line/serial_line.h"

#include <utility>

#include "line/network_line.h"

namespace rq::platform {

namespace {

SerialLineMaker& MakerOverride()
{
    static SerialLineMaker maker;
    return maker;
}

}  // namespace

void SetSerialLineMaker(SerialLineMaker maker)
{
    MakerOverride() = std::move(maker);
}

std::unique_ptr<SerialLine> MakeSerialLine(const std::string& name)
{
    if (MakerOverride()) return MakerOverride()(name);
    if (IsNetworkPortName(name)) return std::make_unique<NetworkLine>();
    return std::make_unique<SerialPort>();
}

}  // namespace rq::platform

#pragma once
// The one place that picks the kind of line a port name means: a name with a
// network scheme ("rfc2217://", "tcp://") is a NetworkLine, anything else a
// SerialPort. Everyone else holds a SerialLine and never asks which.

#include <functional>
#include <memory>
#include <string>

#include "line/serial_port.h"

namespace rq::platform {

std::unique_ptr<SerialLine> MakeSerialLine(const std::string& name);

// For tests: what MakeSerialLine makes in place of the real lines (a fake that
// counts opens, say); an empty function restores them.
using SerialLineMaker = std::function<std::unique_ptr<SerialLine>(const std::string& name)>;
void SetSerialLineMaker(SerialLineMaker maker);

}  // namespace rq::platform

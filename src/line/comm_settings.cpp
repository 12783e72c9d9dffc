#include "line/comm_settings.h"

namespace rq::platform {

std::string CommStateRefusedMessage(long baud, bool acceptedAtDriverRate, const std::string& systemMessage)
{
    if (!acceptedAtDriverRate) return systemMessage;
    return "Baud rate " + std::to_string(baud) + " is not supported by this port: " + systemMessage;
}

}  // namespace rq::platform

#pragma once
#include <wx/colour.h>

#include "serial/log_line.h"

// A log colour as the toolkit draws it (opaque).
inline wxColour ToColour(rq::serial::Rgb rgb)
{
    return wxColour(rgb.r, rgb.g, rgb.b, wxALPHA_OPAQUE);
}

#pragma once
// Control identifiers of the two dialogs, drawn from the toolkit's generator
// (wxNewId) once when the program starts, in a fixed order. The dialogs bind
// their handlers to these identifiers; none is a standard OK or cancel id, so
// the title-bar close box runs no button handler.

#include <wx/defs.h>

namespace rq::dialogs {

// Serial port settings dialog, drawn in this order.
extern const wxWindowID ApplyButtonId;
extern const wxWindowID OkButtonId;
extern const wxWindowID QuitButtonId;
extern const wxWindowID PortChoiceId;
extern const wxWindowID BaudComboId;

// About dialog, drawn after the above.
extern const wxWindowID AboutOkButtonId;
extern const wxWindowID AboutTextId;

}  // namespace rq::dialogs

#include "dialogs/dialog_ids.h"

#include <wx/utils.h>

namespace rq::dialogs {

// Namespace-scope constants of one file are initialised in the order written,
// so the identifiers come from the generator in exactly this order.
const wxWindowID ApplyButtonId = wxNewId();
const wxWindowID OkButtonId = wxNewId();
const wxWindowID QuitButtonId = wxNewId();
const wxWindowID PortChoiceId = wxNewId();
const wxWindowID BaudComboId = wxNewId();
const wxWindowID AboutOkButtonId = wxNewId();
const wxWindowID AboutTextId = wxNewId();

}  // namespace rq::dialogs

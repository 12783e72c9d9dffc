#include "app/rq_m4t_app.h"

wxIMPLEMENT_APP(RQ_M4TApp);

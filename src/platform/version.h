#pragma once
// The program's version and maker, in one place for the About dialog, the
// executables' version resources and the Windows installer. Plain macros:
// the resource compiler and makensis read this file too.

#define RQ_PRODUCT_NAME "RQ-M4x - LED Test"
#define RQ_MAKER_NAME "TELVO"
#define RQ_MAKER_NOTICE "Copyright (C) 2012-2015 TELVO"

#define RQ_VERSION_MAJOR 1
#define RQ_VERSION_MINOR 0
#define RQ_VERSION_RELEASE 3
#define RQ_VERSION_BUILD 411
#define RQ_VERSION_TEXT "1.0.3.411"

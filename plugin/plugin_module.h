// Module-wide values of the NPAPI front end.
#pragma once

#include "npapi.h"

// The browser's table as NP_Initialize received it; every NPN_ call goes through it.
extern NPNetscapeFuncs* BrowserFuncs;

extern "C" {
NPError NP_OSCALL NP_GetEntryPoints(NPPluginFuncs* pFuncs);
NPError NP_OSCALL NP_Initialize(NPNetscapeFuncs* bFuncs);
NPError NP_OSCALL NP_Shutdown(void);
const char* NP_OSCALL NP_GetMIMEDescription(void);
}

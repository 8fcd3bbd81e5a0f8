// Placeholder owned by the plug-in until CSP signing (with its SigningCache) joins the core:
// nothing is remembered yet, so there is nothing to empty. This file goes away when the core
// defines CoreClearSigningCache.
#include "signing_cache.h"

void CoreClearSigningCache() {}

// The signing cache's reset, as the Clear method uses it.
#pragma once

// Empties the remembered CSP name and PIN of CSP signing.
void CoreClearSigningCache();

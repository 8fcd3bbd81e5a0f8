// The soft token's module and the USB key monitor share one set of PKCS#11 declarations.
#pragma once

#include "../../monitor/pkcs11.h"

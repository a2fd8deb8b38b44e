// Compiles only while the natives' C declarations agree with the ones javac derives from the
// Java classes: a differing parameter or result type is a conflicting declaration of a C function.
#include "com_zeb_cif_service_PortNumber.h"
#include "dial_up_settings.h"
#include "plov_UpdateDialUPSettings.h"
#include "port_number.h"

// Compiles only while Tarvik's declarations agree with the header javac derives from
// PEPIOWrapper.java: a differing parameter or result type is a conflicting C declaration.
#include "com_zeb_nativeresource_win_PEPIOWrapper.h"
#include "pep_io_wrapper.h"

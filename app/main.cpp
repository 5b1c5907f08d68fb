#include "app/BootloaderApp.h"

wxIMPLEMENT_APP(BootloaderApp);

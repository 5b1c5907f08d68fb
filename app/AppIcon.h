#pragma once
// The program's icon, for the window (title bar, task bar) and the about box.
#include <wx/iconbndl.h>

wxIconBundle appIcons();
// The large form, for the about box.
wxIcon aboutIcon();

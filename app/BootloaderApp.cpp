#include "app/BootloaderApp.h"

#include "app/MainFrame.h"

bool BootloaderApp::OnInit() {
    wxInitAllImageHandlers();
    frame = new MainFrame(nullptr);
    frame->Show(true);
    return true;
}

int BootloaderApp::OnExit() {
    return 0;
}

#include "app/BootloaderApp.h"

#include <wx/filename.h>
#include <wx/stdpaths.h>

#include "app/MainFrame.h"
#include "app/StationFrame.h"

void BootloaderApp::addCatalogFolders(const wxString& programPath) {
    const wxString folder = wxFileName(programPath).GetPath();
    wxLocale::AddCatalogLookupPathPrefix(folder + wxFILE_SEP_PATH + "locale");
    wxLocale::AddCatalogLookupPathPrefix(folder + wxFILE_SEP_PATH + ".." + wxFILE_SEP_PATH +
                                         "share" + wxFILE_SEP_PATH + "locale");
}

bool BootloaderApp::OnInit() {
    wxInitAllImageHandlers();
    // The system's language; with no catalog for it the window shows its own texts.
    {
        wxLogNull quiet;  // a language the C library lacks is no reason to bother the user
        locale = std::make_unique<wxLocale>();
        locale->Init(wxLANGUAGE_DEFAULT);
        addCatalogFolders(wxStandardPaths::Get().GetExecutablePath());
        locale->AddCatalog("ostraloader");
    }
    // --station [JOB]: the station window alone, for an operator's desktop shortcut, on a
    // job when one is named.
    for (int i = 1; i < argc; ++i) {
        if (argv[i] == "--station") {
            auto* station = new StationFrame(
                nullptr,
                StationFrame::commandLineBeside(wxStandardPaths::Get().GetExecutablePath()));
            if (i + 1 < argc) {
                station->openJob(argv[i + 1].utf8_string());
            }
            station->Show(true);
            return true;
        }
    }
    frame = new MainFrame(nullptr);
    frame->Show(true);
    return true;
}

int BootloaderApp::OnExit() {
    return 0;
}

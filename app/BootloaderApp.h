#pragma once
// The application: sets up the system's language and opens the one main window.
#include <wx/intl.h>
#include <wx/wx.h>

#include <memory>

class MainFrame;

class BootloaderApp : public wxApp {
  public:
    bool OnInit() override;
    int OnExit() override;

    // Looks for the program's catalog beside the program: <folder>/locale and, installed,
    // <folder>/../share/locale, then the toolkit's usual places.
    static void addCatalogFolders(const wxString& programPath);

  private:
    MainFrame* frame = nullptr;  // owned by the toolkit once shown
    std::unique_ptr<wxLocale> locale;
};

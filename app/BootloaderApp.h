#pragma once
// The application: opens the one main window.
#include <wx/wx.h>

class MainFrame;

class BootloaderApp : public wxApp {
  public:
    bool OnInit() override;
    int OnExit() override;

  private:
    MainFrame* frame = nullptr;  // owned by the toolkit once shown
};

#pragma once
// What the window tests share: the images' folder, dialogs answered by a hook, ports pulled
// and plugged, the Czech catalog, and the check that every text shows whole.
#include <wx/intl.h>
#include <wx/modalhook.h>
#include <wx/wx.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

// A file of the images' folder that tests/gui/run made (OSTRA_GUI_DATA).
std::string data(const std::string& name);
std::string utf8(const wxString& s);
inline std::string text(wxStaticText* label) {
    return utf8(label->GetLabel());
}

// Answers every modal dialog at once, on the window's thread or not at all: message boxes
// are recorded ("caption: text") and closed with OK, or `answer` where they ask; file dialogs
// ("title|wildcard") are cancelled; a box of the program's own has the text of its field
// recorded and is closed. `onBox` looks at the window while a box is up.
class DialogCapture : public wxModalDialogHook {
  public:
    DialogCapture() { Register(); }
    std::vector<std::string> boxes;
    std::vector<std::string> fileDialogs;
    std::vector<std::string> ownBoxes;
    std::function<void()> onBox;
    int answer = wxID_YES;  // to a question
    // Decides for a dialog of the program's own: wxID_NONE lets it run.
    std::function<int(wxDialog*)> ownDialog;

  protected:
    int Enter(wxDialog* dialog) override;
    void Exit(wxDialog*) override {}
};

// Calls `act` every 50 ms while it lives: a user at work inside a modal dialog's loop.
class EveryFewMs : public wxTimer {
  public:
    explicit EveryFewMs(std::function<void()> act) : act_(std::move(act)) { Start(50); }
    void Notify() override { act_(); }

  private:
    std::function<void()> act_;
};

// Takes a registered port off the machine and puts it back, as pulling and plugging an
// instrument does: on Linux its alias, on Windows its entry in the serial map.
class PortPlug {
  public:
    explicit PortPlug(const std::string& com) : com_(com) {}
    bool set(bool present);

  private:
    std::string com_, target_;
};

// The Czech catalog the build put beside the program, in force while the result lives.
std::unique_ptr<wxLocale> czech();

// Every static text, button, check box and radio button shows whole: its best width fits
// its own width, and its rectangle lies inside each of its parents up to the frame; and no
// control lies over another.
void expectEveryTextWhole(wxWindow* window, const std::string& language);

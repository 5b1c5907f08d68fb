#pragma once
// What the window tests share: the images' folder, dialogs answered by a hook, ports pulled
// and plugged, the Czech catalog, and the check that every text shows whole.
#include <wx/intl.h>
#include <wx/modalhook.h>
#include <wx/wx.h>

#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

// A file of the images' folder that tests/gui/run made (OSTRA_GUI_DATA).
std::string data(const std::string& name);
std::string utf8(const wxString& s);
inline std::string text(wxStaticText* label) {
    return utf8(label->GetLabel());
}

// The message boxes shown ("caption: text"). A test that reads them expects them; one shown
// after the test last looked is one nobody expected.
class Boxes {
  public:
    void add(std::string box) { all_.push_back(std::move(box)); }
    void clear() { all_.clear(), seen_ = 0; }
    bool empty() const { return looked().empty(); }
    size_t size() const { return looked().size(); }
    const std::string& back() const { return looked().back(); }
    const std::string& operator[](size_t i) const { return looked()[i]; }
    bool operator==(const std::vector<std::string>& other) const { return looked() == other; }
    std::vector<std::string> unexpected() const { return {all_.begin() + seen_, all_.end()}; }
    friend void PrintTo(const Boxes& boxes, std::ostream* out) {
        for (const std::string& box : boxes.all_)
            *out << "\n  " << box;
    }

  private:
    const std::vector<std::string>& looked() const {
        seen_ = all_.size();
        return all_;
    }
    std::vector<std::string> all_;
    mutable size_t seen_ = 0;
};

// Answers every modal dialog at once, on the window's thread or not at all: message boxes
// are recorded ("caption: text") and closed with OK, or `answer` where they ask; file dialogs
// ("title|wildcard") are cancelled; a box of the program's own has the text of its field
// recorded and is closed. `onBox` looks at the window while a box is up. A message box the
// test never looks at fails it: a failure the test did not expect.
class DialogCapture : public wxModalDialogHook {
  public:
    DialogCapture() { Register(); }
    ~DialogCapture() override;
    Boxes boxes;
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

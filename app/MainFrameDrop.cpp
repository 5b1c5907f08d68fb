// Image files dropped on the window: the first goes into the file name field and is checked
// at once, as if typed. Only while that field takes input (connected and idle).
#include <wx/dnd.h>

#include "app/MainFrame.h"

namespace {
class ImageDrop : public wxFileDropTarget {
  public:
    explicit ImageDrop(MainFrame* owner) : frame(owner) {}
    bool OnDropFiles(wxCoord, wxCoord, const wxArrayString& files) override {
        return frame->dropImage(files);
    }

  private:
    MainFrame* frame;
};

// The toolkit asks the window under the pointer: every part of the window takes the drop.
void acceptDrops(MainFrame* frame, wxWindow* window) {
    window->SetDropTarget(new ImageDrop(frame));
    for (wxWindow* child : window->GetChildren()) {
        acceptDrops(frame, child);
    }
}
}  // namespace

void MainFrame::watchDrops() {
    acceptDrops(this, this);
}

bool MainFrame::dropImage(const wxArrayString& files) {
    if (files.IsEmpty() || !m_textFirmwareFile->IsEnabled()) {
        return false;
    }
    m_textFirmwareFile->SetValue(files[0]);  // checked by the field's own change event
    return true;
}

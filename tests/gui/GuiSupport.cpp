#include "tests/gui/GuiSupport.h"

#include <gtest/gtest.h>
#include <wx/filedlg.h>
#include <wx/filename.h>
#include <wx/stdpaths.h>

#include <cstdlib>

#include "app/BootloaderApp.h"
#include "link/PortNames.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>
#endif

std::string data(const std::string& name) {
    const char* folder = std::getenv("OSTRA_GUI_DATA");
    return std::string(folder ? folder : ".") + "/" + name;
}

std::string utf8(const wxString& s) {
    return s.utf8_string();
}

DialogCapture::~DialogCapture() {
    for (const std::string& box : boxes.unexpected())
        ADD_FAILURE() << "a box nobody expected: " << box;
}

int DialogCapture::Enter(wxDialog* dialog) {
    EXPECT_TRUE(wxIsMainThread()) << "a box opened on a worker thread";
    if (auto* box = dynamic_cast<wxMessageDialog*>(dialog)) {
        boxes.add(utf8(box->GetTitle() + ": " + box->GetMessage()));
        if (onBox)
            onBox();
        return (box->GetMessageDialogStyle() & wxYES_NO) != 0 ? answer : wxID_OK;
    }
    if (auto* files = dynamic_cast<wxFileDialog*>(dialog)) {
        fileDialogs.push_back(utf8(files->GetMessage() + "|" + files->GetWildcard()));
        return wxID_CANCEL;
    }
    if (ownDialog)
        return ownDialog(dialog);
    for (wxWindow* child : dialog->GetChildren()) {
        if (auto* field = dynamic_cast<wxTextCtrl*>(child))
            ownBoxes.push_back(utf8(dialog->GetTitle() + ": " + field->GetValue()));
    }
    return wxID_CANCEL;
}

#ifdef _WIN32
bool PortPlug::set(bool present) {
    const char* map = "HARDWARE\\DEVICEMAP\\SERIALCOMM";
    const std::string value = "\\Device\\Ostra" + com_.substr(3);
    return (present
                ? ::RegSetKeyValueA(HKEY_LOCAL_MACHINE, map, value.c_str(), REG_SZ, com_.c_str(),
                                    static_cast<DWORD>(com_.size() + 1))
                : ::RegDeleteKeyValueA(HKEY_LOCAL_MACHINE, map, value.c_str())) == ERROR_SUCCESS;
}
#else
bool PortPlug::set(bool present) {
    const std::string alias = portAliasFolder() + "/" + com_;
    if (present)
        return ::symlink(target_.c_str(), alias.c_str()) == 0;
    char target[512] = {};
    const ssize_t n = ::readlink(alias.c_str(), target, sizeof target - 1);
    target_.assign(target, n > 0 ? static_cast<size_t>(n) : 0);
    return n > 0 && ::unlink(alias.c_str()) == 0;
}
#endif

std::unique_ptr<wxLocale> czech() {
    wxLogNull quiet;
    auto locale = std::make_unique<wxLocale>(wxLANGUAGE_CZECH, 0);
    // The catalog the build put beside the program, build/<kind>/app/locale.
    const wxFileName self(wxStandardPaths::Get().GetExecutablePath());
    BootloaderApp::addCatalogFolders(self.GetPath() + "/../app/ostraloader");
    locale->AddCatalog("ostraloader");
    return locale;
}

void expectEveryTextWhole(wxWindow* window, const std::string& language) {
    // No control lies over another: one left out of its sizer stays where it was made.
    const wxWindowList& children = window->GetChildren();
    for (auto a = children.begin(); a != children.end(); ++a) {
        for (auto b = std::next(a); b != children.end(); ++b) {
            if ((*a)->IsShown() && (*b)->IsShown() && !(*a)->IsTopLevel() && !(*b)->IsTopLevel() &&
                (*a)->GetRect().Intersects((*b)->GetRect())) {
                ADD_FAILURE() << language << ": '" << utf8((*a)->GetName()) << " "
                              << utf8((*a)->GetLabel()) << "' lies over '" << utf8((*b)->GetName())
                              << " " << utf8((*b)->GetLabel()) << "'";
            }
        }
    }
    for (wxWindow* child : window->GetChildren()) {
        auto* label = dynamic_cast<wxControl*>(child);
        if (label && (dynamic_cast<wxStaticText*>(child) || dynamic_cast<wxButton*>(child) ||
                      dynamic_cast<wxCheckBox*>(child) || dynamic_cast<wxRadioButton*>(child))) {
            EXPECT_LE(label->GetBestSize().x, label->GetSize().x)
                << language << ": '" << utf8(label->GetLabel()) << "' is cut";
            for (wxWindow* w = label; !w->IsTopLevel(); w = w->GetParent()) {
                const wxRect inParent(w->GetPosition(), w->GetSize());
                EXPECT_TRUE(wxRect(w->GetParent()->GetClientSize()).Contains(inParent))
                    << language << ": '" << utf8(label->GetLabel()) << "' leaves its parent";
            }
        }
        expectEveryTextWhole(child, language);
    }
}

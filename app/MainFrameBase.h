#pragma once
// The main window's layout: menus, status bar, the Connection, Information and Upload
// firmware groups and the progress gauge. It holds no behaviour: each user action goes to
// one overridable handler, which here only lets the event pass on.
#include <wx/wx.h>

#include <vector>

class MainFrameBase : public wxFrame {
  public:
    MainFrameBase(wxWindow* parent, wxWindowID id, const wxString& title, const wxPoint& pos,
                  const wxSize& size, long style);
    ~MainFrameBase() override;

  protected:
    virtual void OnQuit(wxCommandEvent& event) { event.Skip(); }
    virtual void OnRunFirmware(wxCommandEvent& event) { event.Skip(); }
    virtual void OnAbout(wxCommandEvent& event) { event.Skip(); }
    virtual void OnRoute(wxCommandEvent& event) { event.Skip(); }
    virtual void OnConnect(wxCommandEvent& event) { event.Skip(); }
    virtual void OnFirmwareFileChanged(wxCommandEvent& event) { event.Skip(); }
    virtual void OnBrowseFirmware(wxCommandEvent& event) { event.Skip(); }
    virtual void OnUploadFirmware(wxCommandEvent& event) { event.Skip(); }
    // Beyond the service of one instrument: the station window.
    virtual void OnStation(wxCommandEvent& event) { event.Skip(); }
    virtual void OnFindRoutes(wxCommandEvent& event) { event.Skip(); }

    wxMenuBar* m_menubar;
    wxMenu* m_menuFile;
    wxMenuItem* m_menuItemQuit;
    wxMenu* m_menuOperation;
    wxMenuItem* m_menuItemRunFirmware;
    wxMenuItem* m_menuItemStation;
    wxMenuItem* m_menuItemFindRoutes;
    wxMenu* m_menuHelp;
    wxMenuItem* m_menuItemAbout;
    wxStatusBar* m_statusBar;

    wxComboBox* m_comboPort;
    wxTextCtrl* m_textRoutePath;
    wxButton* m_buttonRoute;
    wxButton* m_buttonConnect;

    wxStaticText* m_staticInfoCaption;
    wxStaticText* m_staticDeviceType;
    wxStaticText* m_staticBootloaderVersion;
    wxStaticText* m_staticFirmwareVersion;
    wxStaticText* m_staticFirmwareLoaded;
    wxStaticText* m_staticFirmwareSize;
    wxStaticText* m_staticFirmwareStatus;

    wxTextCtrl* m_textFirmwareFile;
    wxButton* m_buttonBrowseFirmware;
    wxCheckBox* m_checkRunAfterUpload;
    wxButton* m_buttonUploadFirmware;
    wxStaticText* m_staticFileProduct;
    wxStaticText* m_staticFileVersion;
    wxStaticText* m_staticFileBuild;
    wxStaticText* m_staticFileTimestamp;
    wxStaticText* m_staticFileLength;
    wxGauge* m_gauge;

    // Lays the window out at its fixed height and least width: 650 x 710 device-independent
    // pixels, or what the contents need at the current fonts and DPI where that is more.
    void fitContent();

  private:
    // The menus, and each group of the window: its panel, filled in.
    void makeMenus();
    wxWindow* makeConnection();
    wxWindow* makeInformation();
    wxWindow* makeUpload();
    // One event connection made at construction and undone at destruction.
    struct Binding {
        wxEvtHandler* source;
        int id;
        wxEventType type;
        wxObjectEventFunction handler;
        wxEvtHandler* sink;
    };
    std::vector<Binding> bindings();

    wxStaticText* addLabel(wxWindow* parent, wxSizer* sizer, const char* text, bool plainFont,
                           int flags = wxALL);
};

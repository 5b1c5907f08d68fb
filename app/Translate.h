#pragma once
// Every visible label goes through the current locale's translation lookup; with no locale
// the literal is used unchanged.
#include <wx/intl.h>
#include <wx/string.h>

inline wxString tr(const char* literal) {
    const wxString text = wxString::FromUTF8(literal);
    wxLocale* locale = wxGetLocale();
    return locale ? wxString(locale->GetString(text)) : text;
}

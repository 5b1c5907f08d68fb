#pragma once
// Every visible label goes through the current locale's translation lookup; with no locale
// the literal is used unchanged. Catalogs: po/ (xgettext keywords tr and trLater).
#include <wx/intl.h>
#include <wx/string.h>

#include <string>

#include "support/Utf8.h"

inline wxString tr(const char* literal) {
    const wxString text = wxString::FromUTF8(literal);
    wxLocale* locale = wxGetLocale();
    return locale ? wxString(locale->GetString(text)) : text;
}

// A text of the engine's or the station's (UTF-8) as the window shows it: a label or a
// report's field holding control characters (or bytes that are not UTF-8, which the toolkit
// would show as nothing at all) shows U+FFFD in their place.
inline wxString fromUtf8(const std::string& text) {
    return wxString::FromUTF8(withoutControls(text).c_str());
}

// Marks a literal for the catalog whose lookup happens later, where it is shown.
constexpr const char* trLater(const char* literal) {
    return literal;
}

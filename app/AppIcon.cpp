#include "app/AppIcon.h"

#include <wx/bitmap.h>

#ifdef __WXMSW__
// The icon is a resource of the program (ostraloader.rc), which Explorer shows as well.
wxIconBundle appIcons() {
    return wxIconBundle("ostraloader", nullptr);
}

wxIcon aboutIcon() {
    return appIcons().GetIcon(wxSize(128, 128), wxIconBundle::FALLBACK_NEAREST_LARGER);
}
#else
#include "app/AppIconData.inc"  // generated from the rendered PNGs

namespace {
wxIcon iconOfSize(int size) {
    for (const auto& icon : kIcons) {
        if (icon.size == size) {
            wxIcon result;
            result.CopyFromBitmap(wxBitmap::NewFromPNGData(icon.png, icon.length));
            return result;
        }
    }
    return wxIcon();
}
}  // namespace

wxIconBundle appIcons() {
    wxIconBundle bundle;
    for (const auto& icon : kIcons) {
        bundle.AddIcon(iconOfSize(icon.size));
    }
    return bundle;
}

wxIcon aboutIcon() {
    return iconOfSize(128);
}
#endif

// Labels read from the instruments' cases: typed at a prompt, or a barcode scanner's lines
// (it types like a keyboard and ends each label with Enter: CR, LF or both, as it is set).
#include <cstdio>
#include <iostream>

#include "cli/Commands.h"
#include "cli/Platform.h"
#include "support/Utf8.h"

std::string checkedText(const std::string& text, const std::string& what) {
    if (isUtf8(text)) {
        return text;
    }
    const std::string taken = validUtf8(text);
    std::fprintf(stderr,
                 "ostraloader-cli: %s is not UTF-8 (a terminal or scanner in another code "
                 "page?): taken as \"%s\", each byte that was not as U+FFFD\n",
                 what.c_str(), printable(taken).c_str());
    return taken;
}

bool readLabel(std::string& label) {
    label.clear();
    int c = 0;
    while ((c = std::cin.get()) != EOF && c != '\n' && c != '\r') {
        label += static_cast<char>(c);
    }
    if (c == '\r' && std::cin.peek() == '\n') {
        std::cin.get();  // CR LF ends one label
    }
    while (!label.empty() && label.back() == ' ') {
        label.pop_back();
    }
    return c != EOF || !label.empty();
}

void askLabels(StationRequest& request, Reporter& out) {
    const bool asking = inputIsTerminal();
    std::vector<std::pair<std::string, std::string>> places;  // port, what it is called
    for (const Slot& slot : request.slots) {
        places.emplace_back(slot.port, slot.name);
    }
    for (const std::string& port : request.ports) {
        if (request.slotOf(port).empty()) {
            places.emplace_back(port, port);
        }
    }
    for (const auto& [port, name] : places) {
        std::string label;
        // A person is asked again for an empty label; a scanner's empty line (or the end of
        // its lines) leaves the instrument without one, and the station refuses it.
        do {
            if (asking) {
                std::fprintf(stderr, "Label of the instrument in %s: ", name.c_str());
                std::fflush(stderr);
            }
            if (!readLabel(label)) {
                return;  // no more labels: the rest have none
            }
        } while (asking && label.empty());
        label = checkedText(label, "the label of " + name);
        if (!label.empty()) {
            request.labelsByPort[port] = label;
            out.event("", {{"event", "label"}, {"port", port}, {"label", label}});
        }
    }
}

#include "engine/RoutePath.h"

#include <vector>

#include "support/CInteger.h"
#include "support/Exception.h"

namespace {
// Every piece before a dot is a token, also an empty one; the piece after the last dot
// only when it is not empty.
std::vector<std::string> splitTokens(const std::string& text) {
    std::vector<std::string> tokens;
    std::string piece;
    for (char c : text) {
        if (c == '.') {
            tokens.push_back(piece);
            piece.clear();
        } else {
            piece += c;
        }
    }
    if (!piece.empty()) {
        tokens.push_back(piece);
    }
    return tokens;
}
}  // namespace

void applyRoutePath(const std::string& text, uint32_t& route) {
    const std::vector<std::string> tokens = splitTokens(text);
    if (tokens.empty()) {
        throw Exception("Route path is empty");
    }
    if (tokens.size() > static_cast<size_t>(kMaxRouteHops)) {
        throw Exception("Number of routed devices exceeded allowed number %d", kMaxRouteHops);
    }
    route = 0;
    for (size_t k = tokens.size(); k-- > 0;) {
        const long port = readCInteger(tokens[k].c_str());
        if (port < 0 || port > kMaxRoutePort) {
            throw Exception("Route dev port value is greater then allowed max value %d",
                            kMaxRoutePort);
        }
        if (k != tokens.size() - 1) {
            route <<= 4;
        }
        route |= static_cast<uint32_t>(8 + port);
    }
}

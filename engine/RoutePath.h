#pragma once
// Route path text ("2.5") to route word: one nibble 8 + port per hop, first hop lowest.
#include <cstdint>
#include <string>

constexpr int kMaxRouteHops = 8;
constexpr int kMaxRoutePort = 7;

// Applies `text` to `route` as the engine does once connected: on an empty path or too
// many hops `route` keeps its value; a bad port value leaves the part built so far.
// Throws Exception with the route messages.
void applyRoutePath(const std::string& text, uint32_t& route);

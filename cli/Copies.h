#pragma once
// Copies of this program run at once, one per instrument (the engine is one per process by
// design), each reporting in JSON lines that come back here.
#include <functional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

// Starts one copy per argument list, all at once. Each JSON object a copy prints is handed
// to `onEvent` with the copy's index, on the calling thread, as it comes; a line that is not
// JSON is passed on as {"event":"text","text":...}. Returns the copies' exit codes once all
// have ended. A copy that cannot be started has exit code 1 and one "error" event.
std::vector<int> runCopies(const std::vector<std::vector<std::string>>& argLists,
                           const std::function<void(size_t, const nlohmann::json&)>& onEvent);

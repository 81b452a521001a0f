#pragma once

#include <functional>

namespace tavlin {

// Runs `handler` on the GUI thread when the process receives SIGTERM, SIGINT
// or SIGHUP (log-out, kill, a closed terminal), so the program leaves through
// its normal exit instead of dying with its settings unsaved.
void onTerminationSignal(std::function<void()> handler);

} // namespace tavlin

#pragma once

#include "viewer/startrequest.h"

namespace tavlin {

class Tavlin;

// Runs start-up on the main window for a command line already read: the run mode and the stored
// settings, the screensaver settings dialog for "/c", the splash while the first picture decodes,
// then the window laid out with its first picture. False when the program has already ended (a
// preview, the settings dialog, a signal during the splash).
bool startUp(Tavlin& window, const StartRequest& request);

} // namespace tavlin

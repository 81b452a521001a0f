#include "app/startup.h"

#include "app/frmsplash.h"
#include "dialogs/frmscreensaversettings.h"
#include "viewer/tavlin.h"

namespace tavlin {

bool startUp(Tavlin& window, const StartRequest& request) {
    if (!window.loadStart(request))
        return false;

    if (request.mode == RunMode::Settings) {
        frmScreensaverSettings::ShowScreenSaverOptions(window.currentSettings(),
                                                       window.twipsPerPixel(), &window);
        window.ExitProgram();
        return false;
    }

    window.startFirstPictureEarly(request); // decoded while the splash is up
    if (window.showsSplash() && request.mode != RunMode::Display)
        frmSplash::ShowMe(&window);
    // A signal during the splash has already left through ExitProgram.
    if (window.hasExited())
        return false;

    window.showStart(request);
    return true;
}

} // namespace tavlin

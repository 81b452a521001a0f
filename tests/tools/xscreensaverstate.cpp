// Prints the state of the X server's own screensaver on the default screen, as
// MIT-SCREEN-SAVER reports it: "on" (the screen is blanked), "off", "cycle" or
// "disabled". Exits 1 when the display or the extension is not there.
#include <cstdio>
#include <cstdlib>
#include <xcb/screensaver.h>
#include <xcb/xcb.h>

int main() {
    int screenNumber = 0;
    xcb_connection_t* connection = xcb_connect(nullptr, &screenNumber);
    if (xcb_connection_has_error(connection)) {
        std::fprintf(stderr, "xscreensaverstate: cannot open the display\n");
        return 1;
    }
    xcb_screen_iterator_t screens = xcb_setup_roots_iterator(xcb_get_setup(connection));
    for (int i = 0; i < screenNumber; ++i)
        xcb_screen_next(&screens);
    xcb_screensaver_query_info_reply_t* info = xcb_screensaver_query_info_reply(
        connection, xcb_screensaver_query_info(connection, screens.data->root), nullptr);
    if (!info) {
        std::fprintf(stderr, "xscreensaverstate: the server has no MIT-SCREEN-SAVER\n");
        return 1;
    }
    static const char* const names[] = {"off", "on", "cycle", "disabled"};
    std::puts(info->state < 4 ? names[info->state] : "unknown");
    std::free(info);
    xcb_disconnect(connection);
    return 0;
}

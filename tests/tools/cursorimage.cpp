// Prints how many pixels of the X pointer's current image are not fully transparent:
// 0 for a blank pointer. For the end-to-end tests, which cannot see the pointer in a
// screenshot.
#include <X11/Xlib.h>
#include <X11/extensions/Xfixes.h>
#include <cstdio>

int main() {
    Display* display = XOpenDisplay(nullptr);
    if (!display) {
        std::fprintf(stderr, "cannot open the display\n");
        return 2;
    }
    int eventBase = 0, errorBase = 0;
    if (!XFixesQueryExtension(display, &eventBase, &errorBase)) {
        std::fprintf(stderr, "the X server has no XFIXES extension\n");
        XCloseDisplay(display);
        return 2;
    }
    XFixesCursorImage* image = XFixesGetCursorImage(display);
    if (!image) {
        std::fprintf(stderr, "no cursor image\n");
        XCloseDisplay(display);
        return 2;
    }
    long opaque = 0;
    const long count = long(image->width) * long(image->height);
    for (long i = 0; i < count; ++i)
        if ((image->pixels[i] >> 24) & 0xff)
            ++opaque;
    std::printf("%ld\n", opaque);
    XFree(image);
    XCloseDisplay(display);
    return 0;
}

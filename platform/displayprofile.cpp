#include "platform/displayprofile.h"

#include <cstdlib>
#include <memory>
#include <xcb/xcb.h>

#include <QGuiApplication>

namespace tavlin {

namespace {

// A profile this large is no display's: the property is left unread.
constexpr std::uint32_t kMaxProfileBytes = 16u << 20;

struct Freer {
    void operator()(void* p) const { std::free(p); }
};
template <typename T> using Reply = std::unique_ptr<T, Freer>;

struct Disconnecter {
    void operator()(xcb_connection_t* c) const { xcb_disconnect(c); }
};

} // namespace

QByteArray readX11IccProfile(const QByteArray& display) {
    int screenNumber = 0;
    const std::unique_ptr<xcb_connection_t, Disconnecter> xcb(
        xcb_connect(display.isEmpty() ? nullptr : display.constData(), &screenNumber));
    if (xcb_connection_has_error(xcb.get()))
        return {};
    xcb_screen_iterator_t screens = xcb_setup_roots_iterator(xcb_get_setup(xcb.get()));
    for (int i = 0; i < screenNumber && screens.rem > 0; ++i)
        xcb_screen_next(&screens);
    if (screens.rem == 0)
        return {};
    const xcb_window_t root = screens.data->root;

    static const char name[] = "_ICC_PROFILE";
    const Reply<xcb_intern_atom_reply_t> atom(xcb_intern_atom_reply(
        xcb.get(), xcb_intern_atom(xcb.get(), 1, sizeof name - 1, name), nullptr));
    if (!atom || atom->atom == XCB_ATOM_NONE)
        return {};
    const Reply<xcb_get_property_reply_t> property(
        xcb_get_property_reply(xcb.get(),
                               xcb_get_property(xcb.get(), 0, root, atom->atom,
                                                XCB_GET_PROPERTY_TYPE_ANY, 0, kMaxProfileBytes / 4),
                               nullptr));
    if (!property || property->format != 8 || property->bytes_after != 0)
        return {};
    const int length = xcb_get_property_value_length(property.get());
    return QByteArray(static_cast<const char*>(xcb_get_property_value(property.get())), length);
}

QByteArray readDisplayIccProfile() {
    if (QGuiApplication::platformName() != QLatin1String("xcb"))
        return {};
    return readX11IccProfile({});
}

} // namespace tavlin

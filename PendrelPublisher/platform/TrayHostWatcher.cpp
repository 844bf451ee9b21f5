#include "platform/TrayHostWatcher.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QGuiApplication>

#include <xcb/xcb.h>

#include <algorithm>
#include <cstdlib>
#include <memory>

namespace pendrel {

namespace {

const QString watcherService = QStringLiteral("org.kde.StatusNotifierWatcher");
constexpr int xembedGraceMs = 1500;

xcb_connection_t *connection()
{
    auto *x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    return x11 ? x11->connection() : nullptr;
}

template <class T>
using Reply = std::unique_ptr<T, decltype(&std::free)>;

xcb_atom_t atom(xcb_connection_t *c, const QByteArray &name)
{
    const Reply<xcb_intern_atom_reply_t> reply(
        xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, quint16(name.size()), name.constData()), nullptr), &std::free);
    return reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
}

// The X screen the program runs on (":0.1" is screen 1) and its root window.
int screenNumber()
{
    char *host = nullptr;
    int display = 0;
    int screen = 0;
    if (!xcb_parse_display(nullptr, &host, &display, &screen))
        screen = 0;
    std::free(host);
    return screen;
}

xcb_window_t rootWindow(xcb_connection_t *c, int screen)
{
    xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(c));
    for (int i = 0; i < screen && it.rem > 1; ++i)
        xcb_screen_next(&it);
    return it.data->root;
}

QByteArray selectionName() { return "_NET_SYSTEM_TRAY_S" + QByteArray::number(screenNumber()); }

} // namespace

TrayHostWatcher::TrayHostWatcher(QObject *parent) : QObject(parent)
{
    xembedGrace_.setSingleShot(true);
    xembedGrace_.setInterval(xembedGraceMs);
    connect(&xembedGrace_, &QTimer::timeout, this, &TrayHostWatcher::report);
    connect(&watcher_, &QDBusServiceWatcher::serviceRegistered, this, &TrayHostWatcher::report);
}

TrayHostWatcher::~TrayHostWatcher()
{
    if (managerAtom_ && qGuiApp)
        qGuiApp->removeNativeEventFilter(this);
}

bool TrayHostWatcher::statusNotifierWatcherPresent()
{
    const QDBusConnection bus = QDBusConnection::sessionBus();
    return bus.isConnected() && bus.interface() && bus.interface()->isServiceRegistered(watcherService).value();
}

bool TrayHostWatcher::xembedTrayPresent()
{
    xcb_connection_t *c = connection();
    if (!c)
        return false;
    const xcb_atom_t selection = atom(c, selectionName());
    if (selection == XCB_ATOM_NONE)
        return false;
    const Reply<xcb_get_selection_owner_reply_t> owner(
        xcb_get_selection_owner_reply(c, xcb_get_selection_owner(c, selection), nullptr), &std::free);
    return owner && owner->owner != XCB_WINDOW_NONE;
}

QList<QRect> TrayHostWatcher::dockGeometries()
{
    QList<QRect> docks;
    xcb_connection_t *c = connection();
    if (!c)
        return docks;
    const xcb_window_t root = rootWindow(c, screenNumber());
    const xcb_atom_t type = atom(c, "_NET_WM_WINDOW_TYPE");
    const xcb_atom_t dock = atom(c, "_NET_WM_WINDOW_TYPE_DOCK");
    // Without a window manager the panels are children of the root window;
    // with one they may sit in its frames, and the manager lists them.
    QList<xcb_window_t> candidates;
    const Reply<xcb_query_tree_reply_t> tree(xcb_query_tree_reply(c, xcb_query_tree(c, root), nullptr), &std::free);
    if (tree) {
        const xcb_window_t *children = xcb_query_tree_children(tree.get());
        candidates.append(QList<xcb_window_t>(children, children + xcb_query_tree_children_length(tree.get())));
    }
    const Reply<xcb_get_property_reply_t> clients(
        xcb_get_property_reply(c, xcb_get_property(c, 0, root, atom(c, "_NET_CLIENT_LIST"), XCB_ATOM_WINDOW, 0, 4096),
                               nullptr),
        &std::free);
    if (clients && clients->format == 32) {
        const auto *windows = static_cast<const xcb_window_t *>(xcb_get_property_value(clients.get()));
        candidates.append(QList<xcb_window_t>(windows, windows + xcb_get_property_value_length(clients.get()) / 4));
    }
    for (const xcb_window_t w : candidates) {
        const Reply<xcb_get_property_reply_t> types(
            xcb_get_property_reply(c, xcb_get_property(c, 0, w, type, XCB_ATOM_ATOM, 0, 16), nullptr), &std::free);
        if (!types || types->format != 32)
            continue;
        const auto *atoms = static_cast<const xcb_atom_t *>(xcb_get_property_value(types.get()));
        const int count = xcb_get_property_value_length(types.get()) / 4;
        if (std::find(atoms, atoms + count, dock) == atoms + count)
            continue;
        const Reply<xcb_get_window_attributes_reply_t> attributes(
            xcb_get_window_attributes_reply(c, xcb_get_window_attributes(c, w), nullptr), &std::free);
        const Reply<xcb_get_geometry_reply_t> geometry(xcb_get_geometry_reply(c, xcb_get_geometry(c, w), nullptr),
                                                       &std::free);
        const Reply<xcb_translate_coordinates_reply_t> origin(
            xcb_translate_coordinates_reply(c, xcb_translate_coordinates(c, w, root, 0, 0), nullptr), &std::free);
        if (!attributes || attributes->map_state != XCB_MAP_STATE_VIEWABLE || !geometry || !origin)
            continue;
        const QRect where(origin->dst_x, origin->dst_y, geometry->width, geometry->height);
        if (!docks.contains(where))
            docks.append(where);
    }
    std::stable_sort(docks.begin(), docks.end(), [](const QRect &a, const QRect &b) { return a.width() > b.width(); });
    return docks;
}

void TrayHostWatcher::watch()
{
    if (watching_)
        return;
    watching_ = true;
    watcher_.setConnection(QDBusConnection::sessionBus());
    watcher_.setWatchMode(QDBusServiceWatcher::WatchForRegistration);
    watcher_.addWatchedService(watcherService);

    // An XEmbed tray announces itself with a MANAGER message to the root
    // window, sent to the clients that listen for structure changes there.
    if (xcb_connection_t *c = connection(); c && !managerAtom_) {
        managerAtom_ = atom(c, "MANAGER");
        selectionAtom_ = atom(c, selectionName());
        const xcb_window_t root = rootWindow(c, screenNumber());
        // Qt listens on the root window through the same connection: keep its events.
        const Reply<xcb_get_window_attributes_reply_t> attributes(
            xcb_get_window_attributes_reply(c, xcb_get_window_attributes(c, root), nullptr), &std::free);
        const quint32 mask = (attributes ? attributes->your_event_mask : 0) | XCB_EVENT_MASK_STRUCTURE_NOTIFY;
        xcb_change_window_attributes(c, root, XCB_CW_EVENT_MASK, &mask);
        xcb_flush(c);
        qGuiApp->installNativeEventFilter(this);
    }
    // Either may have come up in the meantime.
    if (statusNotifierWatcherPresent())
        report();
    else if (xembedTrayPresent())
        xembedGrace_.start();
}

bool TrayHostWatcher::nativeEventFilter(const QByteArray &eventType, void *message, qintptr *)
{
    if (!watching_ || eventType != "xcb_generic_event_t")
        return false;
    const auto *event = static_cast<const xcb_generic_event_t *>(message);
    if ((event->response_type & 0x7f) != XCB_CLIENT_MESSAGE)
        return false;
    const auto *client = reinterpret_cast<const xcb_client_message_event_t *>(event);
    if (client->type == managerAtom_ && client->data.data32[1] == selectionAtom_) {
        if (statusNotifierWatcherPresent())
            report();
        else if (!xembedGrace_.isActive())
            xembedGrace_.start();
    }
    return false;
}

void TrayHostWatcher::report()
{
    if (!watching_)
        return;
    watching_ = false;
    xembedGrace_.stop();
    watcher_.removeWatchedService(watcherService);
    emit appeared();
}

} // namespace pendrel

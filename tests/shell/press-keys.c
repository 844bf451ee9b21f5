/* Presses keys on a Wayland compositor the way a keyboard would, for the
 * tests that drive the real program on real compositors:
 *   press-keys Super+Shift+S       one chord: modifiers down, key, all up
 *   press-keys x Return            several presses, one after the other
 *   press-keys $(type_keys a@b.c)  text, as wayland-desktop.sh spells it
 * KWin gives clients it trusts org_kde_kwin_fake_input (evdev key codes,
 * its own keymap); wlroots compositors (sway) give zwp_virtual_keyboard_v1,
 * which needs a keymap from us: the standard us one, built by xkbcommon,
 * so that keys land where a real us keyboard puts them.
 * Exits 2 when the compositor offers neither to this client. */
#define _GNU_SOURCE
#include <linux/input-event-codes.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>
#include <sys/mman.h>
#include <time.h>
#include <unistd.h>
#include <wayland-client.h>
#include <xkbcommon/xkbcommon.h>

#include "fake-input-client-protocol.h"
#include "virtual-keyboard-unstable-v1-client-protocol.h"

static struct org_kde_kwin_fake_input *fake_input;
static struct zwp_virtual_keyboard_manager_v1 *keyboard_manager;
static struct wl_seat *seat;

static void global_added(void *data, struct wl_registry *registry, uint32_t name, const char *interface,
                         uint32_t version)
{
    (void)data;
    if (strcmp(interface, org_kde_kwin_fake_input_interface.name) == 0 && version >= 4)
        fake_input = wl_registry_bind(registry, name, &org_kde_kwin_fake_input_interface, 4);
    else if (strcmp(interface, zwp_virtual_keyboard_manager_v1_interface.name) == 0)
        keyboard_manager = wl_registry_bind(registry, name, &zwp_virtual_keyboard_manager_v1_interface, 1);
    else if (strcmp(interface, wl_seat_interface.name) == 0 && !seat)
        seat = wl_registry_bind(registry, name, &wl_seat_interface, 1);
}

static void global_removed(void *data, struct wl_registry *registry, uint32_t name)
{
    (void)data;
    (void)registry;
    (void)name;
}

static const struct wl_registry_listener registry_listener = {global_added, global_removed};

struct key_name {
    const char *name;
    unsigned code;
};

static const struct key_name modifiers[] = {
    {"Super", KEY_LEFTMETA}, {"Meta", KEY_LEFTMETA}, {"Shift", KEY_LEFTSHIFT},
    {"Ctrl", KEY_LEFTCTRL},  {"Alt", KEY_LEFTALT},
};
static const struct key_name keys[] = {
    {"Return", KEY_ENTER}, {"space", KEY_SPACE}, {"Escape", KEY_ESC}, {"F12", KEY_F12},
    {"Tab", KEY_TAB},      {"period", KEY_DOT},
};
/* Digits in us order: 1 to 9, then 0. */
static const char digits[] = "1234567890";
static const unsigned digit_codes[] = {
    KEY_1, KEY_2, KEY_3, KEY_4, KEY_5, KEY_6, KEY_7, KEY_8, KEY_9, KEY_0,
};
/* Letters in us order, by evdev code. */
static const char letters[] = "qwertyuiopasdfghjklzxcvbnm";
static const unsigned letter_codes[] = {
    KEY_Q, KEY_W, KEY_E, KEY_R, KEY_T, KEY_Y, KEY_U, KEY_I, KEY_O, KEY_P, KEY_A, KEY_S, KEY_D,
    KEY_F, KEY_G, KEY_H, KEY_J, KEY_K, KEY_L, KEY_Z, KEY_X, KEY_C, KEY_V, KEY_B, KEY_N, KEY_M,
};

static int code_of(const char *name, const struct key_name *table, size_t count)
{
    for (size_t i = 0; i < count; ++i)
        if (strcasecmp(name, table[i].name) == 0)
            return (int)table[i].code;
    if (table == keys && strlen(name) == 1) {
        const char *at = strchr(letters, name[0] | 0x20);
        if (at && name[0] != '\0')
            return (int)letter_codes[at - letters];
        const char *digit = strchr(digits, name[0]);
        if (digit && name[0] != '\0')
            return (int)digit_codes[digit - digits];
    }
    return -1;
}

static struct zwp_virtual_keyboard_v1 *virtual_keyboard;
static struct xkb_state *xkb_state;

static uint32_t now_ms(void)
{
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return (uint32_t)(t.tv_sec * 1000 + t.tv_nsec / 1000000);
}

static int use_us_keymap(void)
{
    struct xkb_context *context = xkb_context_new(XKB_CONTEXT_NO_FLAGS);
    struct xkb_rule_names names = {.rules = "evdev", .model = "pc105", .layout = "us"};
    struct xkb_keymap *keymap = context ? xkb_keymap_new_from_names(context, &names, 0) : NULL;
    if (!keymap)
        return -1;
    char *text = xkb_keymap_get_as_string(keymap, XKB_KEYMAP_FORMAT_TEXT_V1);
    const size_t size = strlen(text) + 1;
    const int fd = memfd_create("us-keymap", MFD_CLOEXEC);
    if (fd < 0 || write(fd, text, size) != (ssize_t)size)
        return -1;
    zwp_virtual_keyboard_v1_keymap(virtual_keyboard, WL_KEYBOARD_KEYMAP_FORMAT_XKB_V1, fd, (uint32_t)size);
    close(fd);
    free(text);
    xkb_state = xkb_state_new(keymap);
    return 0;
}

static void send_key(struct wl_display *display, unsigned code, int pressed)
{
    if (fake_input) {
        org_kde_kwin_fake_input_keyboard_key(fake_input, code, pressed ? 1 : 0);
    } else {
        zwp_virtual_keyboard_v1_key(virtual_keyboard, now_ms(), code,
                                    pressed ? WL_KEYBOARD_KEY_STATE_PRESSED : WL_KEYBOARD_KEY_STATE_RELEASED);
        /* The modifier state goes with the key, as a keyboard's would. */
        xkb_state_update_key(xkb_state, code + 8, pressed ? XKB_KEY_DOWN : XKB_KEY_UP);
        zwp_virtual_keyboard_v1_modifiers(virtual_keyboard,
                                          xkb_state_serialize_mods(xkb_state, XKB_STATE_MODS_DEPRESSED),
                                          xkb_state_serialize_mods(xkb_state, XKB_STATE_MODS_LATCHED),
                                          xkb_state_serialize_mods(xkb_state, XKB_STATE_MODS_LOCKED),
                                          xkb_state_serialize_layout(xkb_state, XKB_STATE_LAYOUT_EFFECTIVE));
    }
    wl_display_roundtrip(display);
    usleep(20000); /* the compositor sees separate presses, not one burst */
}

/* "Super+Shift+S": modifiers down in order, the key down and up, modifiers
 * up in reverse order. */
static int press_chord(struct wl_display *display, const char *chord)
{
    int held[8];
    int count = 0;
    char *copy = strdup(chord);
    char *rest = copy;
    char *part;
    int key = -1;
    while ((part = strsep(&rest, "+")) != NULL) {
        const int modifier = rest ? code_of(part, modifiers, sizeof modifiers / sizeof *modifiers) : -1;
        if (rest && modifier >= 0 && count < 8) {
            held[count++] = modifier;
        } else if (!rest) {
            key = code_of(part, keys, sizeof keys / sizeof *keys);
            if (key < 0)
                key = code_of(part, modifiers, sizeof modifiers / sizeof *modifiers);
        } else {
            key = -1;
            break;
        }
    }
    free(copy);
    if (key < 0) {
        fprintf(stderr, "press-keys: unknown keys %s\n", chord);
        return -1;
    }
    for (int i = 0; i < count; ++i)
        send_key(display, (unsigned)held[i], 1);
    send_key(display, (unsigned)key, 1);
    send_key(display, (unsigned)key, 0);
    for (int i = count - 1; i >= 0; --i)
        send_key(display, (unsigned)held[i], 0);
    return 0;
}

int main(int argc, char **argv)
{
    if (argc < 2) {
        fprintf(stderr, "usage: press-keys CHORD...   (e.g. Super+Shift+S, x, Return)\n");
        return 1;
    }
    struct wl_display *display = wl_display_connect(NULL);
    if (!display) {
        fprintf(stderr, "press-keys: no Wayland display\n");
        return 1;
    }
    struct wl_registry *registry = wl_display_get_registry(display);
    wl_registry_add_listener(registry, &registry_listener, NULL);
    wl_display_roundtrip(display);
    if (fake_input) {
        org_kde_kwin_fake_input_authenticate(fake_input, "Pendrel Publisher tests", "press the capture keys");
        fprintf(stderr, "press-keys: through KWin's fake input\n");
    } else if (keyboard_manager && seat) {
        virtual_keyboard = zwp_virtual_keyboard_manager_v1_create_virtual_keyboard(keyboard_manager, seat);
        if (use_us_keymap() != 0) {
            fprintf(stderr, "press-keys: xkbcommon could not build the us keymap\n");
            return 1;
        }
        fprintf(stderr, "press-keys: through a virtual keyboard with the us keymap\n");
    } else {
        fprintf(stderr, "press-keys: the compositor offers this client neither fake input nor a virtual keyboard\n");
        return 2;
    }
    wl_display_roundtrip(display);
    for (int i = 1; i < argc; ++i)
        if (press_chord(display, argv[i]) != 0)
            return 1;
    if (wl_display_roundtrip(display) < 0) {
        fprintf(stderr, "press-keys: the compositor refused the presses\n");
        return 1;
    }
    wl_display_disconnect(display);
    return 0;
}

// SPDX-FileCopyrightText: The Tavrin developers
// SPDX-License-Identifier: GPL-3.0-or-later

// What any X11 client costs on this machine for what Tavrin's window does while it records,
// with no toolkit at all: a window of the same size, a 500 ms timer, and every other tick an
// 8x13 image put to the window (--timer-only: the timer alone). Under the Qt floor (qtfloor)
// it shows how much of a window's figure is the machine's own price for a wake-up and a draw.
//   xfloor [--timer-only]
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <poll.h>
#include <xcb/xcb.h>

int main(int argc, char **argv)
{
    const bool timerOnly = argc > 1 && std::strcmp(argv[1], "--timer-only") == 0;
    xcb_connection_t *c = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(c))
        return 1;
    xcb_screen_t *screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
    const xcb_window_t window = xcb_generate_id(c);
    const uint32_t back[] = {screen->black_pixel};
    xcb_create_window(c, XCB_COPY_FROM_PARENT, window, screen->root, 0, 0, 245, 51, 0,
                      XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual, XCB_CW_BACK_PIXEL, back);
    xcb_map_window(c, window);
    const xcb_gcontext_t gc = xcb_generate_id(c);
    xcb_create_gc(c, gc, window, 0, nullptr);
    xcb_flush(c);

    static uint32_t pixels[8 * 13];
    struct pollfd fd = {xcb_get_file_descriptor(c), POLLIN, 0};
    struct timespec next;
    clock_gettime(CLOCK_MONOTONIC, &next);
    for (unsigned ticks = 1;; ++ticks) {
        next.tv_nsec += 500000000;
        if (next.tv_nsec >= 1000000000) {
            next.tv_nsec -= 1000000000;
            ++next.tv_sec;
        }
        for (;;) {
            struct timespec now;
            clock_gettime(CLOCK_MONOTONIC, &now);
            const long ms = (next.tv_sec - now.tv_sec) * 1000 + (next.tv_nsec - now.tv_nsec) / 1000000;
            if (ms <= 0)
                break;
            if (poll(&fd, 1, int(ms)) > 0) {
                xcb_generic_event_t *e;
                while ((e = xcb_poll_for_event(c)))
                    std::free(e);
                if (xcb_connection_has_error(c))
                    return 0;
            }
        }
        if (!timerOnly && ticks % 2 == 0) {
            std::memset(pixels, (ticks / 2) % 2 ? 0xff : 0, sizeof pixels);
            xcb_put_image(c, XCB_IMAGE_FORMAT_Z_PIXMAP, window, gc, 8, 13, 230, 36, 0, screen->root_depth,
                          sizeof pixels, reinterpret_cast<const uint8_t *>(pixels));
            xcb_flush(c);
        }
    }
}

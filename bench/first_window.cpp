// tarnquill-first-window: the time from the start of a program to its first
// window on the X server, measured from outside the program.
//
//   tarnquill-first-window [--docked] [--linger MS] [--timeout MS] COMMAND [ARGUMENTS...]
//   tarnquill-first-window --wait-tray [--timeout MS]
//
// Selects SubstructureNotify on the root window of $DISPLAY (meant for a private
// Xvfb without a window manager, where every top-level window is a child of the
// root), starts COMMAND and prints the milliseconds from just before the start to
// the first MapNotify of a managed (not override-redirect) window. With --docked
// the moment counted is instead the first window an XEmbed tray takes from the
// root (its ReparentNotify): the tray icon of a program started minimized. The
// program is then ended (SIGTERM, SIGKILL after 3 s), --linger MS after the window
// (to let it finish what it does after the first window). Exit status 0 with the
// time on standard output; 1 with a message when the display cannot be opened,
// the program ended early or nothing was shown within the time-out (20 s).
// --wait-tray waits until the screen's XEmbed tray selection has an owner.
#include <xcb/xcb.h>

#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

using Clock = std::chrono::steady_clock;

void endChild(pid_t child)
{
    ::kill(child, SIGTERM);
    for (int i = 0; i < 300; ++i) {
        if (::waitpid(child, nullptr, WNOHANG) == child) {
            return;
        }
        ::usleep(10000);
    }
    ::kill(child, SIGKILL);
    ::waitpid(child, nullptr, 0);
}

// True once the tray selection of the screen has an owner, polled every 50 ms.
bool waitForTray(xcb_connection_t* connection, int screenNumber, long timeoutMs)
{
    const std::string name = "_NET_SYSTEM_TRAY_S" + std::to_string(screenNumber);
    xcb_intern_atom_reply_t* atom = xcb_intern_atom_reply(
        connection, xcb_intern_atom(connection, 0, static_cast<uint16_t>(name.size()), name.c_str()), nullptr);
    if (atom == nullptr) {
        return false;
    }
    const xcb_atom_t selection = atom->atom;
    std::free(atom);
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (Clock::now() < deadline) {
        xcb_get_selection_owner_reply_t* owner =
            xcb_get_selection_owner_reply(connection, xcb_get_selection_owner(connection, selection), nullptr);
        const bool owned = owner != nullptr && owner->owner != XCB_NONE;
        std::free(owner);
        if (owned) {
            return true;
        }
        ::usleep(50000);
    }
    std::fprintf(stderr, "tarnquill-first-window: no tray took %s within %ld ms\n", name.c_str(), timeoutMs);
    return false;
}

} // namespace

int main(int argc, char** argv)
{
    bool docked = false;
    bool waitTray = false;
    long lingerMs = 0;
    long timeoutMs = 20000;
    int first = 1;
    while (first < argc && argv[first][0] == '-') {
        if (std::strcmp(argv[first], "--docked") == 0) {
            docked = true;
            ++first;
        } else if (std::strcmp(argv[first], "--wait-tray") == 0) {
            waitTray = true;
            ++first;
        } else if (std::strcmp(argv[first], "--linger") == 0 && first + 1 < argc) {
            lingerMs = std::strtol(argv[first + 1], nullptr, 10);
            first += 2;
        } else if (std::strcmp(argv[first], "--timeout") == 0 && first + 1 < argc) {
            timeoutMs = std::strtol(argv[first + 1], nullptr, 10);
            first += 2;
        } else {
            break;
        }
    }
    if ((first >= argc && !waitTray) || timeoutMs <= 0 || lingerMs < 0) {
        std::fprintf(stderr,
                     "usage: %s [--docked] [--linger MS] [--timeout MS] COMMAND [ARGUMENTS...]\n"
                     "       %s --wait-tray [--timeout MS]\n",
                     argv[0], argv[0]);
        return 2;
    }

    int screenNumber = 0;
    xcb_connection_t* connection = xcb_connect(nullptr, &screenNumber);
    if (xcb_connection_has_error(connection) != 0) {
        std::fprintf(stderr, "tarnquill-first-window: cannot open the display \"%s\"\n",
                     std::getenv("DISPLAY") != nullptr ? std::getenv("DISPLAY") : "");
        return 1;
    }
    xcb_screen_iterator_t screens = xcb_setup_roots_iterator(xcb_get_setup(connection));
    for (int i = 0; i < screenNumber && screens.rem > 0; ++i) {
        xcb_screen_next(&screens);
    }
    const xcb_window_t root = screens.data->root;
    if (waitTray) {
        return waitForTray(connection, screenNumber, timeoutMs) ? 0 : 1;
    }
    const uint32_t mask = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
    xcb_change_window_attributes(connection, root, XCB_CW_EVENT_MASK, &mask);
    // A round trip: the selection is in force before the program starts.
    std::free(xcb_get_input_focus_reply(connection, xcb_get_input_focus(connection), nullptr));

    const Clock::time_point start = Clock::now();
    const pid_t child = ::fork();
    if (child < 0) {
        std::perror("tarnquill-first-window: fork");
        return 1;
    }
    if (child == 0) {
        ::close(xcb_get_file_descriptor(connection));
        ::execvp(argv[first], argv + first);
        std::fprintf(stderr, "tarnquill-first-window: cannot start %s: %s\n", argv[first], std::strerror(errno));
        std::_Exit(127);
    }

    const Clock::time_point deadline = start + std::chrono::milliseconds(timeoutMs);
    pollfd fd{xcb_get_file_descriptor(connection), POLLIN, 0};
    for (;;) {
        while (xcb_generic_event_t* event = xcb_poll_for_event(connection)) {
            const uint8_t type = event->response_type & 0x7f;
            bool shown = false;
            if (!docked && type == XCB_MAP_NOTIFY) {
                const auto* map = reinterpret_cast<xcb_map_notify_event_t*>(event);
                shown = map->event == root && map->override_redirect == 0;
            } else if (docked && type == XCB_REPARENT_NOTIFY) {
                const auto* reparent = reinterpret_cast<xcb_reparent_notify_event_t*>(event);
                shown = reparent->event == root && reparent->parent != root;
            }
            std::free(event);
            if (shown) {
                const double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
                std::printf("%.1f\n", ms);
                std::fflush(stdout);
                ::usleep(static_cast<useconds_t>(lingerMs) * 1000);
                endChild(child);
                xcb_disconnect(connection);
                return 0;
            }
        }
        if (xcb_connection_has_error(connection) != 0) {
            std::fprintf(stderr, "tarnquill-first-window: the display connection broke\n");
            endChild(child);
            return 1;
        }
        int status = 0;
        if (::waitpid(child, &status, WNOHANG) == child) {
            std::fprintf(stderr, "tarnquill-first-window: %s ended before it showed a window\n", argv[first]);
            xcb_disconnect(connection);
            return 1;
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) {
            std::fprintf(stderr, "tarnquill-first-window: no window within %ld ms\n", timeoutMs);
            endChild(child);
            xcb_disconnect(connection);
            return 1;
        }
        ::poll(&fd, 1, static_cast<int>(std::min<long long>(left, 50)));
    }
}

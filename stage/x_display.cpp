#include "stage/x_display.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/keysym.h>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <thread>

namespace orbitreel::stage {

namespace {

// A window that vanishes between two requests is no reason to end the
// program, which is what Xlib's own handler does.
int ignoreXError(Display*, XErrorEvent*) { return 0; }

}  // namespace

VirtualScreen::VirtualScreen(int width, int height) {
    auto xvfb = findProgram("Xvfb");
    if (xvfb.empty()) throw std::runtime_error("Xvfb is not installed (Debian package xvfb)");
    int numberPipe[2];
    if (::pipe2(numberPipe, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
    ProgramLaunch launch;
    launch.program = xvfb;
    launch.arguments = {"-displayfd",
                        std::to_string(numberPipe[1]),
                        "-screen",
                        "0",
                        std::to_string(width) + "x" + std::to_string(height) + "x24",
                        "-nolisten",
                        "tcp"};
    launch.keepDescriptor = numberPipe[1];
    try {
        server_ = ChildProcess(launch);
    } catch (...) {
        ::close(numberPipe[0]);
        ::close(numberPipe[1]);
        throw;
    }
    ::close(numberPipe[1]);
    // Xvfb writes its display number once it accepts connections.
    std::string number;
    pollfd ready{numberPipe[0], POLLIN, 0};
    while (::poll(&ready, 1, 15000) > 0) {
        char c;
        if (::read(numberPipe[0], &c, 1) != 1 || c == '\n') break;
        number += c;
    }
    ::close(numberPipe[0]);
    if (number.empty()) throw std::runtime_error("Xvfb did not start");
    name_ = ":" + number;
}

VirtualScreen::~VirtualScreen() { server_.stop(); }

struct XConnection::Impl {
    Display* display = nullptr;
    Window root = 0;
    Atom netWmName = 0, utf8 = 0, protocols = 0, deleteWindow = 0;
};

XConnection::XConnection(const std::string& displayName) : impl_(std::make_unique<Impl>()) {
    XSetErrorHandler(ignoreXError);
    impl_->display = XOpenDisplay(displayName.c_str());
    if (!impl_->display) throw std::runtime_error("cannot open the X display " + displayName);
    impl_->root = DefaultRootWindow(impl_->display);
    impl_->netWmName = XInternAtom(impl_->display, "_NET_WM_NAME", False);
    impl_->utf8 = XInternAtom(impl_->display, "UTF8_STRING", False);
    impl_->protocols = XInternAtom(impl_->display, "WM_PROTOCOLS", False);
    impl_->deleteWindow = XInternAtom(impl_->display, "WM_DELETE_WINDOW", False);
}

XConnection::~XConnection() {
    if (impl_->display) XCloseDisplay(impl_->display);
}

bool XConnection::reachable(const std::string& displayName) {
    if (displayName.empty()) return false;
    XSetErrorHandler(ignoreXError);
    Display* display = XOpenDisplay(displayName.c_str());
    if (!display) return false;
    XCloseDisplay(display);
    return true;
}

std::vector<TopWindow> XConnection::visibleWindows() {
    Display* d = impl_->display;
    std::vector<TopWindow> found;
    Window root = 0, parent = 0;
    Window* children = nullptr;
    unsigned count = 0;
    if (!XQueryTree(d, impl_->root, &root, &parent, &children, &count)) return found;
    for (unsigned i = 0; i < count; ++i) {
        XWindowAttributes attributes{};
        if (!XGetWindowAttributes(d, children[i], &attributes)) continue;
        if (attributes.map_state != IsViewable || attributes.c_class != InputOutput) continue;
        if (attributes.width <= 1 || attributes.height <= 1) continue;
        TopWindow window;
        window.id = children[i];
        window.frame = QRect(attributes.x, attributes.y, attributes.width, attributes.height);
        Atom type = 0;
        int format = 0;
        unsigned long items = 0, after = 0;
        unsigned char* data = nullptr;
        if (XGetWindowProperty(d, children[i], impl_->netWmName, 0, 1024, False, impl_->utf8, &type, &format, &items,
                               &after, &data) == Success &&
            data) {
            window.title.assign(reinterpret_cast<char*>(data), items);
            XFree(data);
        } else {
            char* name = nullptr;
            if (XFetchName(d, children[i], &name) && name) {
                window.title = name;
                XFree(name);
            }
        }
        found.push_back(window);
    }
    if (children) XFree(children);
    return found;
}

std::optional<TopWindow> XConnection::windowTitled(const std::string& title) {
    for (auto& window : visibleWindows())
        if (window.title == title) return window;
    return std::nullopt;
}

void XConnection::pressReturn(const TopWindow& window) {
    Display* d = impl_->display;
    XSetInputFocus(d, window.id, RevertToParent, CurrentTime);
    XSync(d, False);
    // The toolkit makes the window active when the focus arrives; only an
    // active window takes its keyboard shortcuts.
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    XKeyEvent key{};
    key.display = d;
    key.window = window.id;
    key.root = impl_->root;
    key.subwindow = None;
    key.time = CurrentTime;
    key.x = key.y = key.x_root = key.y_root = 1;
    key.same_screen = True;
    key.keycode = XKeysymToKeycode(d, XK_Return);
    key.type = KeyPress;
    XSendEvent(d, window.id, True, KeyPressMask, reinterpret_cast<XEvent*>(&key));
    key.type = KeyRelease;
    XSendEvent(d, window.id, True, KeyReleaseMask, reinterpret_cast<XEvent*>(&key));
    XSync(d, False);
}

void XConnection::requestClose(const TopWindow& window) {
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = window.id;
    event.xclient.message_type = impl_->protocols;
    event.xclient.format = 32;
    event.xclient.data.l[0] = static_cast<long>(impl_->deleteWindow);
    event.xclient.data.l[1] = CurrentTime;
    XSendEvent(impl_->display, window.id, False, NoEventMask, &event);
    XSync(impl_->display, False);
}

QImage XConnection::grab(const QRect& area) {
    Display* d = impl_->display;
    const QRect screen(0, 0, DisplayWidth(d, DefaultScreen(d)), DisplayHeight(d, DefaultScreen(d)));
    const QRect clipped = area.intersected(screen);
    if (clipped.isEmpty()) return {};
    XImage* image = XGetImage(d, impl_->root, clipped.x(), clipped.y(), static_cast<unsigned>(clipped.width()),
                              static_cast<unsigned>(clipped.height()), AllPlanes, ZPixmap);
    if (!image) return {};
    QImage result(clipped.size(), QImage::Format_RGB32);
    const bool direct = image->bits_per_pixel == 32 && image->byte_order == LSBFirst && image->red_mask == 0xff0000 &&
                        image->green_mask == 0xff00 && image->blue_mask == 0xff;
    for (int y = 0; y < clipped.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(result.scanLine(y));
        if (direct) {
            std::memcpy(line, image->data + static_cast<std::ptrdiff_t>(y) * image->bytes_per_line,
                        static_cast<size_t>(clipped.width()) * 4);
            for (int x = 0; x < clipped.width(); ++x) line[x] |= 0xff000000u;
            continue;
        }
        for (int x = 0; x < clipped.width(); ++x) {
            unsigned long pixel = XGetPixel(image, x, y);
            auto channel = [pixel](unsigned long mask) {
                if (!mask) return 0;
                int shift = __builtin_ctzl(mask);
                unsigned long max = mask >> shift;
                return static_cast<int>(((pixel & mask) >> shift) * 255 / max);
            };
            line[x] = qRgb(channel(image->red_mask), channel(image->green_mask), channel(image->blue_mask));
        }
    }
    XDestroyImage(image);
    return result;
}

QRect XConnection::visibleArea(int margin) {
    QRect area;
    for (auto& window : visibleWindows()) area = area.united(window.frame);
    return area.isEmpty() ? area : area.adjusted(-margin, -margin, margin, margin);
}

}  // namespace orbitreel::stage

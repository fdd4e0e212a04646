// What a screen reader gets of the installer over the accessibility bus, as
// lines of text:
//   atspi_reader tree APPLICATION     the application's tree: "role 'name'",
//                                     a value where there is one, two blanks
//                                     of indent per level
//   atspi_reader listen APPLICATION   until killed, one line per event a
//                                     screen reader listens for: a name
//                                     change, or a value change
// Needs DBUS_SESSION_BUS_ADDRESS with an accessibility bus launched on it.

#include <atspi/atspi.h>

#include <cstdio>
#include <cstring>
#include <string>

namespace {

std::string text(gchar* owned) {
    std::string copy = owned ? owned : "";
    g_free(owned);
    return copy;
}

std::string roleOf(AtspiAccessible* accessible) { return text(atspi_accessible_get_role_name(accessible, nullptr)); }
std::string nameOf(AtspiAccessible* accessible) { return text(atspi_accessible_get_name(accessible, nullptr)); }

// " value=V [MIN,MAX]" for what has a value; nothing otherwise.
std::string valueOf(AtspiAccessible* accessible) {
    AtspiValue* value = atspi_accessible_get_value_iface(accessible);
    if (!value) return {};
    char line[128];
    std::snprintf(line, sizeof line, " value=%g [%g,%g]", atspi_value_get_current_value(value, nullptr),
                  atspi_value_get_minimum_value(value, nullptr), atspi_value_get_maximum_value(value, nullptr));
    g_object_unref(value);
    return line;
}

AtspiAccessible* findApplication(const std::string& name) {
    AtspiAccessible* desktop = atspi_get_desktop(0);
    const int count = atspi_accessible_get_child_count(desktop, nullptr);
    for (int i = 0; i < count; ++i) {
        AtspiAccessible* application = atspi_accessible_get_child_at_index(desktop, i, nullptr);
        if (application && nameOf(application) == name) return application;
        if (application) g_object_unref(application);
    }
    return nullptr;
}

void printTree(AtspiAccessible* accessible, int depth) {
    std::printf("%s%s '%s'%s\n", std::string(2 * depth, ' ').c_str(), roleOf(accessible).c_str(),
                nameOf(accessible).c_str(), valueOf(accessible).c_str());
    const int count = atspi_accessible_get_child_count(accessible, nullptr);
    for (int i = 0; i < count; ++i) {
        AtspiAccessible* child = atspi_accessible_get_child_at_index(accessible, i, nullptr);
        if (!child) continue;
        printTree(child, depth + 1);
        g_object_unref(child);
    }
}

std::string watched;

// The event is ours to free. The name is read when the event arrives: a
// screen reader reads it so too.
void onEvent(AtspiEvent* event, void*) {
    AtspiAccessible* application = atspi_accessible_get_application(event->source, nullptr);
    const bool ours = application && nameOf(application) == watched;
    if (application) g_object_unref(application);
    if (ours) {
        std::string detail;
        if (std::strcmp(event->type, "object:property-change:accessible-name") == 0) {
            detail = "'" + nameOf(event->source) + "'";
        } else {
            detail = valueOf(event->source);
        }
        std::printf("%s %s%s\n", event->type, roleOf(event->source).c_str(),
                    (detail.empty() || detail[0] == ' ' ? detail : " " + detail).c_str());
        std::fflush(stdout);
    }
    g_boxed_free(ATSPI_TYPE_EVENT, event);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3 || (std::strcmp(argv[1], "tree") != 0 && std::strcmp(argv[1], "listen") != 0)) {
        std::fprintf(stderr, "usage: atspi_reader tree|listen APPLICATION\n");
        return 2;
    }
    if (atspi_init() < 0) return 1;
    watched = argv[2];
    if (std::strcmp(argv[1], "tree") == 0) {
        AtspiAccessible* application = findApplication(watched);
        if (!application) {
            std::fprintf(stderr, "atspi_reader: no application named %s on the bus\n", argv[2]);
            return 1;
        }
        printTree(application, 0);
        return 0;
    }
    AtspiEventListener* listener = atspi_event_listener_new(onEvent, nullptr, nullptr);
    for (const char* type : {"object:property-change:accessible-name", "object:property-change:accessible-value"}) {
        if (!atspi_event_listener_register(listener, type, nullptr)) return 1;
    }
    std::printf("listening\n");
    std::fflush(stdout);
    atspi_event_main();
    return 0;
}

#!/usr/bin/python3
"""Lists what the running programs show to assistive technology, one object a line:
role, name and the object's rectangle on the screen (x y width height), separated by
tabs. Needs the accessibility bus of the current D-Bus session."""
import dbus

ACCESSIBLE = "org.a11y.atspi.Accessible"
COMPONENT = "org.a11y.atspi.Component"


def main():
    session = dbus.SessionBus()
    address = session.get_object("org.a11y.Bus", "/org/a11y/bus").GetAddress(
        dbus_interface="org.a11y.Bus")
    bus = dbus.bus.BusConnection(address)
    pending = [("org.a11y.atspi.Registry", "/org/a11y/atspi/accessible/root")]
    while pending:
        name, path = pending.pop(0)
        node = bus.get_object(name, path)
        try:
            label = dbus.Interface(node, "org.freedesktop.DBus.Properties").Get(ACCESSIBLE, "Name")
            role = node.GetRoleName(dbus_interface=ACCESSIBLE)
            children = node.GetChildren(dbus_interface=ACCESSIBLE)
        except dbus.DBusException:
            continue  # gone meanwhile
        try:
            x, y, w, h = node.GetExtents(dbus.UInt32(0), dbus_interface=COMPONENT)
        except dbus.DBusException:
            x = y = w = h = -1
        print(f"{role}\t{label}\t{x} {y} {w} {h}", flush=False)
        pending.extend((str(n), str(p)) for n, p in children)


if __name__ == "__main__":
    main()

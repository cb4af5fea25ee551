#!/usr/bin/python3
"""Asks the reading view for its whole text through the accessibility bus, as a screen
reader may (GetText from 0 to -1), then checks the program still answers on the bus.
Prints the length of the text returned and the character count."""
import sys

import dbus

ACCESSIBLE = "org.a11y.atspi.Accessible"
TEXT = "org.a11y.atspi.Text"


def main():
    session = dbus.SessionBus()
    address = session.get_object("org.a11y.Bus", "/org/a11y/bus").GetAddress(
        dbus_interface="org.a11y.Bus")
    bus = dbus.bus.BusConnection(address)
    pending = [("org.a11y.atspi.Registry", "/org/a11y/atspi/accessible/root")]
    view = None
    while pending and view is None:
        name, path = pending.pop(0)
        node = bus.get_object(name, path)
        try:
            role = node.GetRoleName(dbus_interface=ACCESSIBLE)
            children = node.GetChildren(dbus_interface=ACCESSIBLE)
        except dbus.DBusException:
            continue
        if role == "text" and node.GetCharacterCount(dbus_interface=TEXT) > 1000000:
            view = node
        pending.extend((str(n), str(p)) for n, p in children)
    if view is None:
        print("no reading view on the bus")
        return 1
    count = int(view.GetCharacterCount(dbus_interface=TEXT))
    try:
        text = view.GetText(0, -1, dbus_interface=TEXT, timeout=60)
        length = len(text)
    except dbus.DBusException as error:
        length = -1
        print(f"GetText failed: {error}")
    # Still on the bus: the view answers again.
    again = int(view.GetCharacterCount(dbus_interface=TEXT, timeout=10))
    print(f"{length} {count} {again}")
    return 0


if __name__ == "__main__":
    sys.exit(main())

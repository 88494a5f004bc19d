#!/usr/bin/env python3
"""Asks a window to close the way a window manager's close button does (WM_DELETE_WINDOW).

    wmclose.py PID TITLE-PREFIX [--wait SECONDS]

Looks at the top-level windows of $DISPLAY for one of process PID (_NET_WM_PID) whose title begins
with TITLE-PREFIX, sends it WM_DELETE_WINDOW and exits 0; exits 1 if no such window turned up within
the wait (default 30 s). Plain Xlib through ctypes, so it needs nothing beyond libX11.
"""
import ctypes
import sys
import time

CLIENT_MESSAGE = 33
XA_CARDINAL = 6


class ClientMessage(ctypes.Structure):
    _fields_ = [
        ("type", ctypes.c_int),
        ("serial", ctypes.c_ulong),
        ("send_event", ctypes.c_int),
        ("display", ctypes.c_void_p),
        ("window", ctypes.c_ulong),
        ("message_type", ctypes.c_ulong),
        ("format", ctypes.c_int),
        ("data", ctypes.c_long * 5),
    ]


class XEvent(ctypes.Union):
    _fields_ = [("xclient", ClientMessage), ("pad", ctypes.c_long * 24)]


def main():
    if len(sys.argv) < 3:
        print(__doc__, file=sys.stderr)
        return 2
    pid = int(sys.argv[1])
    prefix = sys.argv[2].encode()
    wait = float(sys.argv[sys.argv.index("--wait") + 1]) if "--wait" in sys.argv else 30.0

    x = ctypes.cdll.LoadLibrary("libX11.so.6")
    x.XOpenDisplay.restype = ctypes.c_void_p
    x.XOpenDisplay.argtypes = [ctypes.c_char_p]
    x.XDefaultRootWindow.restype = ctypes.c_ulong
    x.XDefaultRootWindow.argtypes = [ctypes.c_void_p]
    x.XInternAtom.restype = ctypes.c_ulong
    x.XInternAtom.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_int]
    x.XQueryTree.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.POINTER(ctypes.c_ulong), ctypes.POINTER(ctypes.c_ulong),
                             ctypes.POINTER(ctypes.POINTER(ctypes.c_ulong)), ctypes.POINTER(ctypes.c_uint)]
    x.XGetWindowProperty.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_ulong, ctypes.c_long, ctypes.c_long, ctypes.c_int,
                                     ctypes.c_ulong, ctypes.POINTER(ctypes.c_ulong), ctypes.POINTER(ctypes.c_int),
                                     ctypes.POINTER(ctypes.c_ulong), ctypes.POINTER(ctypes.c_ulong),
                                     ctypes.POINTER(ctypes.POINTER(ctypes.c_ubyte))]
    x.XSendEvent.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_long, ctypes.POINTER(XEvent)]
    x.XFree.argtypes = [ctypes.c_void_p]
    x.XFlush.argtypes = [ctypes.c_void_p]
    x.XCloseDisplay.argtypes = [ctypes.c_void_p]

    dpy = x.XOpenDisplay(None)
    if not dpy:
        print("wmclose: cannot open the display", file=sys.stderr)
        return 1
    root = x.XDefaultRootWindow(dpy)
    atom = {name: x.XInternAtom(dpy, name, 0) for name in (b"WM_PROTOCOLS", b"WM_DELETE_WINDOW", b"_NET_WM_PID",
                                                          b"_NET_WM_NAME", b"UTF8_STRING")}

    def prop(window, name, kind, length):
        actual, fmt, n, after = ctypes.c_ulong(), ctypes.c_int(), ctypes.c_ulong(), ctypes.c_ulong()
        data = ctypes.POINTER(ctypes.c_ubyte)()
        if x.XGetWindowProperty(dpy, window, atom[name], 0, length, 0, kind, ctypes.byref(actual), ctypes.byref(fmt),
                                ctypes.byref(n), ctypes.byref(after), ctypes.byref(data)) != 0 or not data:
            return None
        try:
            if fmt.value == 32:
                return ctypes.cast(data, ctypes.POINTER(ctypes.c_ulong))[0] if n.value else None
            return bytes(data[: n.value])
        finally:
            x.XFree(data)

    def find():
        r, p = ctypes.c_ulong(), ctypes.c_ulong()
        children, count = ctypes.POINTER(ctypes.c_ulong)(), ctypes.c_uint()
        if not x.XQueryTree(dpy, root, ctypes.byref(r), ctypes.byref(p), ctypes.byref(children), ctypes.byref(count)):
            return None
        try:
            for i in range(count.value):
                w = children[i]
                if prop(w, b"_NET_WM_PID", XA_CARDINAL, 1) == pid and (prop(w, b"_NET_WM_NAME", atom[b"UTF8_STRING"], 1024) or b"").startswith(prefix):
                    return w
        finally:
            if children:
                x.XFree(children)
        return None

    end = time.monotonic() + wait
    window = find()
    while window is None and time.monotonic() < end:
        time.sleep(0.2)
        window = find()
    if window is None:
        print("wmclose: no window of process %d titled %r..." % (pid, prefix.decode()), file=sys.stderr)
        return 1
    event = XEvent()
    event.xclient.type = CLIENT_MESSAGE
    event.xclient.window = window
    event.xclient.message_type = atom[b"WM_PROTOCOLS"]
    event.xclient.format = 32
    event.xclient.data[0] = atom[b"WM_DELETE_WINDOW"]
    event.xclient.data[1] = 0  # CurrentTime
    x.XSendEvent(dpy, window, 0, 0, ctypes.byref(event))
    x.XFlush(dpy)
    x.XCloseDisplay(dpy)
    return 0


if __name__ == "__main__":
    sys.exit(main())

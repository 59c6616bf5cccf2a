"""The few Xlib calls the end-to-end tests and benchmarks make themselves, through ctypes."""
import ctypes
import ctypes.util

_c = ctypes
_SIGNATURES = {
    'XOpenDisplay': (_c.c_void_p, [_c.c_char_p]),
    'XCloseDisplay': (_c.c_int, [_c.c_void_p]),
    'XDefaultRootWindow': (_c.c_ulong, [_c.c_void_p]),
    'XConnectionNumber': (_c.c_int, [_c.c_void_p]),
    'XCreateSimpleWindow': (_c.c_ulong, [_c.c_void_p, _c.c_ulong, _c.c_int, _c.c_int, _c.c_uint, _c.c_uint,
                                         _c.c_uint, _c.c_ulong, _c.c_ulong]),
    'XInternAtom': (_c.c_ulong, [_c.c_void_p, _c.c_char_p, _c.c_int]),
    'XSetSelectionOwner': (_c.c_int, [_c.c_void_p, _c.c_ulong, _c.c_ulong, _c.c_ulong]),
    'XGetSelectionOwner': (_c.c_ulong, [_c.c_void_p, _c.c_ulong]),
    'XMapWindow': (_c.c_int, [_c.c_void_p, _c.c_ulong]),
    'XQueryTree': (_c.c_int, [_c.c_void_p, _c.c_ulong, _c.POINTER(_c.c_ulong), _c.POINTER(_c.c_ulong),
                              _c.POINTER(_c.POINTER(_c.c_ulong)), _c.POINTER(_c.c_uint)]),
    'XGetWindowProperty': (_c.c_int, [_c.c_void_p, _c.c_ulong, _c.c_ulong, _c.c_long, _c.c_long, _c.c_int,
                                       _c.c_ulong, _c.POINTER(_c.c_ulong), _c.POINTER(_c.c_int),
                                       _c.POINTER(_c.c_ulong), _c.POINTER(_c.c_ulong),
                                       _c.POINTER(_c.POINTER(_c.c_ubyte))]),
    'XSelectInput': (_c.c_int, [_c.c_void_p, _c.c_ulong, _c.c_long]),
    'XSendEvent': (_c.c_int, [_c.c_void_p, _c.c_ulong, _c.c_int, _c.c_long, _c.c_void_p]),
    'XPending': (_c.c_int, [_c.c_void_p]),
    'XNextEvent': (_c.c_int, [_c.c_void_p, _c.c_void_p]),
    'XFlush': (_c.c_int, [_c.c_void_p]),
    'XSync': (_c.c_int, [_c.c_void_p, _c.c_int]),
    'XGetImage': (_c.c_void_p, [_c.c_void_p, _c.c_ulong, _c.c_int, _c.c_int, _c.c_uint, _c.c_uint, _c.c_ulong,
                                _c.c_int]),
    'XGetPixel': (_c.c_ulong, [_c.c_void_p, _c.c_int, _c.c_int]),
    'XFree': (_c.c_int, [_c.c_void_p]),
    'XDisplayKeycodes': (_c.c_int, [_c.c_void_p, _c.POINTER(_c.c_int), _c.POINTER(_c.c_int)]),
    'XGetKeyboardMapping': (_c.POINTER(_c.c_ulong), [_c.c_void_p, _c.c_ubyte, _c.c_int, _c.POINTER(_c.c_int)]),
    'XQueryKeymap': (_c.c_int, [_c.c_void_p, _c.c_char * 32]),
    'XQueryPointer': (_c.c_int, [_c.c_void_p, _c.c_ulong] + [_c.POINTER(_c.c_ulong)] * 2 +
                      [_c.POINTER(_c.c_int)] * 4 + [_c.POINTER(_c.c_uint)]),
}

ALL_PLANES = 0xFFFFFFFF
Z_PIXMAP = 2
MAP_NOTIFY = 19
SELECTION_REQUEST = 30
CLIENT_MESSAGE = 33
STRUCTURE_NOTIFY_MASK = 1 << 17
SUBSTRUCTURE_NOTIFY_MASK = 1 << 19
SUBSTRUCTURE_REDIRECT_MASK = 1 << 20


class XEvent(ctypes.Structure):
    """XEvent, laid out as a client message (the other event types only need the type field)."""
    _fields_ = [('type', _c.c_int), ('serial', _c.c_ulong), ('send_event', _c.c_int), ('display', _c.c_void_p),
                ('window', _c.c_ulong), ('message_type', _c.c_ulong), ('format', _c.c_int),
                ('l', _c.c_long * 5), ('pad', _c.c_long * 12)]


# Xlib's default error handler ends the process: an error (a window that has gone meanwhile) is
# seen in the calls' results instead.
_ERROR_HANDLER = ctypes.CFUNCTYPE(_c.c_int, _c.c_void_p, _c.c_void_p)(lambda display, event: 0)


def load():
    lib = ctypes.CDLL(ctypes.util.find_library('X11'))
    for name, (result, arguments) in _SIGNATURES.items():
        function = getattr(lib, name)
        function.restype = result
        function.argtypes = arguments
    lib.XSetErrorHandler.restype = _c.c_void_p
    lib.XSetErrorHandler.argtypes = [_c.c_void_p]
    lib.XSetErrorHandler(ctypes.cast(_ERROR_HANDLER, _c.c_void_p))
    return lib


class Connection:
    """A connection of our own to the test's X server."""

    def __init__(self, display_name):
        self.x = load()
        self.d = self.x.XOpenDisplay(display_name.encode())
        if not self.d:
            raise RuntimeError(f'cannot open display {display_name}')
        self.root = self.x.XDefaultRootWindow(self.d)

    def atom(self, name):
        return self.x.XInternAtom(self.d, name.encode(), 0)

    def close(self):
        if self.d:
            self.x.XCloseDisplay(self.d)
            self.d = None

    def number_property(self, window, name):
        """The first 32-bit value of a window's property (a WINDOW, CARDINAL...), or None when the
        window has no such property or has gone."""
        type_, format_, count, after = _c.c_ulong(), _c.c_int(), _c.c_ulong(), _c.c_ulong()
        data = _c.POINTER(_c.c_ubyte)()
        status = self.x.XGetWindowProperty(self.d, window, self.atom(name), 0, 1, 0, 0, _c.byref(type_),
                                           _c.byref(format_), _c.byref(count), _c.byref(after), _c.byref(data))
        value = None
        if status == 0 and format_.value == 32 and count.value >= 1:
            value = _c.cast(data, _c.POINTER(_c.c_ulong))[0]  # Xlib hands format 32 over as longs
        if data:
            self.x.XFree(data)
        return value

    def selection_requests(self):
        """How many SelectionRequest events (other clients asking for a selection we own) have
        arrived since the last call; the other events are dropped."""
        event, count = XEvent(), 0
        while self.x.XPending(self.d):
            self.x.XNextEvent(self.d, _c.byref(event))
            count += event.type == SELECTION_REQUEST
        return count

    def pixel(self, x, y, window=None):
        """The colour of a pixel of the screen (or of the window) as (red, green, blue)."""
        image = self.x.XGetImage(self.d, window or self.root, x, y, 1, 1, ALL_PLANES, Z_PIXMAP)
        value = self.x.XGetPixel(image, 0, 0)
        return ((value >> 16) & 0xFF, (value >> 8) & 0xFF, value & 0xFF)

    def region(self, x0, y0, width, height):
        """Every other pixel of a screen rectangle, to tell whether it changed."""
        image = self.x.XGetImage(self.d, self.root, x0, y0, width, height, ALL_PLANES, Z_PIXMAP)
        return tuple(self.x.XGetPixel(image, i, j) for j in range(0, height, 2) for i in range(0, width, 2))

    def keymap(self):
        """The core keyboard mapping, every keycode's keysyms (what xmodmap -pke lists)."""
        low, high, per = _c.c_int(), _c.c_int(), _c.c_int()
        self.x.XDisplayKeycodes(self.d, _c.byref(low), _c.byref(high))
        syms = self.x.XGetKeyboardMapping(self.d, low.value, high.value - low.value + 1, _c.byref(per))
        mapping = tuple(syms[i] for i in range((high.value - low.value + 1) * per.value))
        self.x.XFree(syms)
        return mapping

    def modifier_state(self):
        """The keyboard's modifier state (a locked Caps Lock shows as LockMask)."""
        window, child = _c.c_ulong(), _c.c_ulong()
        xy = [_c.c_int() for _ in range(4)]
        mask = _c.c_uint()
        self.x.XQueryPointer(self.d, self.root, _c.byref(window), _c.byref(child), *[_c.byref(v) for v in xy],
                             _c.byref(mask))
        return mask.value & 0xFF

    def keys_down(self):
        keys = (_c.c_char * 32)()
        self.x.XQueryKeymap(self.d, keys)
        return sum(bin(b).count('1') for b in bytes(keys))

    def children(self, window):
        """The window's children, bottom first, and its parent."""
        root, parent = _c.c_ulong(), _c.c_ulong()
        children, count = _c.POINTER(_c.c_ulong)(), _c.c_uint()
        if not self.x.XQueryTree(self.d, window, _c.byref(root), _c.byref(parent), _c.byref(children),
                                 _c.byref(count)):
            return [], 0
        result = [children[i] for i in range(count.value)]
        if children:
            self.x.XFree(children)
        return result, parent.value

    def top_level(self, window):
        """The child of the root (the manager's frame, or the window itself) that holds the window."""
        while window:
            _, parent = self.children(window)
            if parent == self.root:
                return window
            window = parent
        return 0


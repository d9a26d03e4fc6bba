# -----------------------------------------------------------------------------
# File: vidazohx.py
# -----------------------------------------------------------------------------
#
# gdb commands that show libViDazoHx's host-side state in a live host or in
# a core file:
#
#   vidazohx sessions   every registered session, its FIFO records, the
#                       regions lent out, the FIFO locks, the closes in
#                       flight with their closers and the opens in their
#                       window
#   vidazohx waiters    the threads blocked in the library, on what, for
#                       which session and FIFO, and who holds it
#
# Only memory is read; no function of the process is called, so a core file
# answers as a live host does. The library's debug information is needed
# (the build tree's library, or the libvidazohx-dbgsym package); without it
# the commands say so and stop.
#
# The package installs this file where gdb loads it by itself for the
# library (share/gdb/auto-load/<library path>-gdb.py); from a build tree:
#   (gdb) source tools/gdb/vidazohx.py
#
# The layouts read here are those of src/sessions/registry.h,
# src/fifo/fifoState.h, src/quarks/synchronization.h and
# src/protons/containers/nothrowContainers.h: a change there is a change
# here.

import gdb

LIBRARY = "libViDazoHx.so"


class MissingDebugInfo(Exception):
    pass


# ---- reading the library's containers ---------------------------------------


def global_value(name):
    """The value of a library global: plain, or in an anonymous namespace."""
    symbol = gdb.lookup_global_symbol(name) or gdb.lookup_static_symbol(name)
    if symbol is None:
        symbol = gdb.lookup_static_symbol("(anonymous namespace)::" + name)
    if symbol is None:
        raise MissingDebugInfo(name)
    return symbol.value()


def optional_global(name):
    try:
        return global_value(name)
    except MissingDebugInfo:
        return None


def atomic(value):
    """The plain value inside a std::atomic (libstdc++ layout)."""
    while value.type.strip_typedefs().code == gdb.TYPE_CODE_STRUCT:
        fields = value.type.strip_typedefs().fields()
        names = [field.name for field in fields]
        for inner in ("_M_i", "_M_p"):
            if inner in names:
                return value[inner]
        value = value[fields[0]]
    return value


def growable(array):
    """The items of a tGrowableArray, in order."""
    items = array["items_"]
    return [items[index] for index in range(int(array["size_"]))]


def ordered_map(value):
    """(key, value) of each node of a tOrderedMap, ascending."""
    return [(int(node["key"]), node["value"]) for node in
            (pointer.dereference() for pointer in growable(value["nodes_"]))]


def value_list(value):
    return [int(item) for item in growable(value["values_"])]


def region_queue(queue):
    """The tRegionEntry values of a tRegionQueue, oldest first."""
    entries, node = [], queue["head_"]
    while int(node) != 0 and len(entries) < 100000:
        entries.append(node["entry"])
        node = node["next"]
    return entries


def address(value):
    return int(value.address) if value.address is not None else 0


def linked(head, fields):
    """The `fields` of each entry of a list linked through `next`."""
    entries, entry = [], head
    while int(entry) != 0 and len(entries) < 100000:
        entries.append(tuple(entry[field] for field in fields))
        entry = entry["next"]
    return entries


# ---- threads and lock holders -----------------------------------------------


def thread_by_lwp():
    return {thread.ptid[1]: thread for thread in gdb.selected_inferior().threads()}


def describe_thread(lwp, threads):
    thread = threads.get(lwp)
    if thread is None:
        return "LWP %d (no such thread)" % lwp
    return "thread %d (LWP %d)" % (thread.num, lwp)


def mutex_owner(mutex_pointer):
    """The LWP holding a tMutex (its pthread mutex records the owner), or 0."""
    if int(mutex_pointer) == 0:
        return 0
    data = mutex_pointer.dereference()["mutex_"]["__data"]
    owner = int(data["__owner"])
    if owner == 0:
        # A priority-inheriting mutex keeps the owner in the futex word too.
        owner = int(data["__lock"]) & 0x3FFFFFFF
    return owner


def closer_text(handle, threads):
    """The thread running a close in flight, from the pthread_t it keeps."""
    try:
        thread = gdb.selected_inferior().thread_from_handle(handle)
    except (gdb.error, AttributeError, TypeError, ValueError, RuntimeError):
        thread = None
    if thread is None:
        return "thread 0x%x (not among the threads)" % int(handle)
    return describe_thread(thread.ptid[1], threads)


def mutex_text(name, mutex_pointer, threads):
    owner = mutex_owner(mutex_pointer)
    if owner == 0:
        return "%s free" % name
    return "%s held by %s" % (name, describe_thread(owner, threads))


def event_text(event_pointer):
    if int(event_pointer) == 0:
        return "acquireEvent missing"
    event = event_pointer.dereference()
    signalled = bool(atomic(event["signalled_"]))
    waiters = int(atomic(event["waiters_"]))
    return "acquireEvent %s, %d waiting" % ("signalled" if signalled else "not signalled", waiters)


# ---- the registry -----------------------------------------------------------


class Fifo(object):
    def __init__(self, session, number, state):
        self.session, self.number, self.state = session, number, state
        self.acquire_mutex = state["acquireMutex"]
        self.region_mutex = state["regionMutex"]
        self.acquire_event = state["acquireEvent"]


class Registry(object):
    """A snapshot of the session registry, read from memory."""

    def __init__(self):
        loaded = [objfile.filename for objfile in gdb.objfiles() if LIBRARY in (objfile.filename or "")]
        try:
            self.map = global_value("sessionRegistry")
            self.lock = global_value("registryLock")
            self.closes = global_value("closesInFlight")
        except MissingDebugInfo as missing:
            where = loaded[0] if loaded else "no %s among the loaded files" % LIBRARY
            raise gdb.GdbError(
                "vidazohx: no debug information for %s (%s: symbol %s not found). Use the build tree's "
                "library, or install libvidazohx-dbgsym (or unpack it and `set debug-file-directory "
                "<root>/usr/lib/debug`)." % (LIBRARY, where, missing))
        # Absent from libraries built before opens were marked in their
        # window and before the close-end signal.
        self.opens = optional_global("opensInFlight")
        self.close_end = optional_global("closeInFlightEnded")
        self.sessions = ordered_map(self.map)
        self.key_of = {address(record): key for key, record in self.sessions}
        self.fifos = [Fifo(key, number, state)
                      for key, record in self.sessions
                      for number, state in ordered_map(record["fifoStates"])]

    def closes_in_flight(self):
        """(session, token) of each close in flight, newest first."""
        return [(int(session), int(token)) for session, token in linked(self.closes, ("session", "token"))]

    def closers(self):
        """(session, token, closer pthread_t) of each close in flight."""
        return [(int(session), int(token), closer)
                for session, token, closer in linked(self.closes, ("session", "token", "closer"))]

    def opens_in_window(self):
        """(session, cancelled) of each open between its cleanup registration and its record."""
        if self.opens is None:
            return None
        return [(int(session), bool(cancelled)) for session, cancelled in linked(self.opens, ("session", "cancelled"))]

    def in_close_end_signal(self, word):
        """Whether an address lies in the signal that wakes the closes waiting
        for a close in flight (its mutex or its condition's futex words)."""
        if self.close_end is None:
            return False
        start = address(self.close_end)
        return start <= word < start + self.close_end.type.sizeof

    def fifo_held_by(self, lwp):
        return [fifo for fifo in self.fifos if mutex_owner(fifo.acquire_mutex) == lwp]

    def fifo_with_mutex(self, mutex_address):
        for fifo in self.fifos:
            if int(fifo.acquire_mutex) == mutex_address:
                return fifo, "acquireMutex"
            if int(fifo.region_mutex) == mutex_address:
                return fifo, "regionMutex"
        return None, None

    def registry_lock_text(self, threads):
        users = int(atomic(self.lock["userCount"]))
        exclusive = int(atomic(self.lock["exclusiveActive"])) != 0
        holder = mutex_owner(self.lock["exclusiveMutex"].address)
        if exclusive and holder:
            return "held exclusively by %s" % describe_thread(holder, threads)
        if exclusive:
            return "an exclusive acquirer is draining it"
        if users > 1:
            return "held shared %d time(s) (shared holders are not recorded)" % (users - 1)
        return "free"


def session_flags(record):
    flags = []
    if bool(atomic(record["closePending"])):
        flags.append("close put off (regions out)")
    if bool(record["closePendingOnChildren"]):
        flags.append("close waits for its children")
    return flags


def show_sessions(registry):
    threads = thread_by_lwp()
    print("%d session(s) registered; registryLock %s" % (len(registry.sessions),
                                                        registry.registry_lock_text(threads)))
    for key, record in registry.sessions:
        parent_pointer = int(record["parentState"])
        parent = registry.key_of.get(parent_pointer, "?") if parent_pointer else "none"
        children = value_list(record["childSessions"])
        print("session %d: generation %d, parent %s, children %s%s" % (
            key, int(atomic(record["generation"])), parent,
            "[" + ", ".join(str(child) for child in children) + "]",
            "".join("; " + flag for flag in session_flags(record))))
        for fifo in (fifo for fifo in registry.fifos if fifo.session == key):
            regions = region_queue(fifo.state["regions"])
            print("  FIFO %d: %d region(s) out; %s; %s; %s" % (
                fifo.number, len(regions), mutex_text("acquireMutex", fifo.acquire_mutex, threads),
                mutex_text("regionMutex", fifo.region_mutex, threads), event_text(fifo.acquire_event)))
            for order, entry in enumerate(regions, 1):
                print("    region %d (acquisition order): %d element(s), %s" % (
                    order, int(entry["elementCount"]),
                    "released, goes back with the older ones" if bool(entry["released"]) else "lent to the host"))
    flights = registry.closers()
    if not flights:
        print("closes in flight: none")
    for session, token, closer in flights:
        print("close in flight: session %d, token %d, closed by %s" % (session, token, closer_text(closer, threads)))
    opens = registry.opens_in_window()
    if opens is not None and not opens:
        print("opens in their window: none")
    for session, cancelled in opens or ():
        print("open in its window: session %d%s" % (
            session, ", cancelled (the host's cleanup closes it)" if cancelled else ""))


# ---- waiters ----------------------------------------------------------------

# Library frames that mean a wait, innermost match wins.
WAIT_FRAMES = (
    ("takeTurn", "turn"),
    ("attemptLower", "elements"),
    ("lower::acquireFifoElements", "elements"),
    ("waitForCloseInFlight", "closeInFlight"),
    ("tSharedExclusiveLock::acquireExclusive", "sharedExclusive"),
    ("tSharedExclusiveLock::acquireSharedAfterBackOff", "sharedExclusive"),
    ("tSharedExclusiveLock::waitForExclusiveEnd", "sharedExclusive"),
    ("tMutex::lock", "mutex"),
    ("tMutexHolder::tMutexHolder", "mutex"),
)


def frames_of(thread):
    thread.switch()
    frames, frame = [], gdb.newest_frame()
    while frame is not None and len(frames) < 200:
        frames.append(frame)
        try:
            frame = frame.older()
        except gdb.error:
            break
    return frames


def wait_kind(name):
    for suffix, kind in WAIT_FRAMES:
        if name == suffix or name.endswith("::" + suffix):
            return kind
    return None


def read_pointers(frames, names):
    """Every readable pointer-sized value named in `names` in these frames."""
    found = []
    for frame in frames:
        for name in names:
            try:
                value = frame.read_var(name)
                if value.is_optimized_out:
                    continue
                if value.type.strip_typedefs().code == gdb.TYPE_CODE_REF:
                    value = value.referenced_value().address
                found.append(int(value))
            except (gdb.error, ValueError, RuntimeError):
                continue
    return found


def futex_register(frames):
    """The first syscall argument of the innermost frame: the futex word a
    thread sleeps on when the C library has no debug information."""
    for register in ("rdi", "r0", "x0"):
        try:
            return int(frames[0].read_register(register))
        except (gdb.error, ValueError):
            continue
    return 0


def read_integer(frames, name):
    for frame in frames:
        try:
            value = frame.read_var(name)
            if not value.is_optimized_out:
                return int(value)
        except (gdb.error, ValueError, RuntimeError):
            continue
    return None


def fifo_name(fifo):
    return "session %d FIFO %d" % (fifo.session, fifo.number)


def describe_wait(registry, kind, frames, lwp, threads):
    if kind in ("turn", "elements"):
        # The acquisition holds its FIFO's acquireMutex for its whole run.
        held = registry.fifo_held_by(lwp)
        where = fifo_name(held[0]) if held else "a FIFO no longer registered"
        if kind == "turn":
            return "waits for the turn of %s (%s)" % (where, event_text(held[0].acquire_event) if held else "?")
        return "waits in the lower acquisition for elements of %s" % where
    if kind == "closeInFlight":
        flights = registry.closes_in_flight()
        token = read_integer(frames, "token")
        named = [flight for flight in flights if token is not None and flight[1] == token]
        if named:
            return "waits for the close in flight of session %d (token %d)" % named[0]
        if token is not None:
            return "waits for the close in flight with token %d (ended already)" % token
        return "waits for a close in flight (closes in flight: %s)" % (
            ", ".join("session %d token %d" % flight for flight in flights) or "none")
    candidates = read_pointers(frames, ("this", "mutex", "futex_word", "lock_")) + [futex_register(frames)]
    if any(registry.in_close_end_signal(candidate) for candidate in candidates):
        return describe_wait(registry, "closeInFlight", frames, lwp, threads)
    session_locks = {int(record["sessionLock"]): key for key, record in registry.sessions}
    for candidate in candidates:
        if candidate in session_locks:
            return "waits for the sessionLock of session %d" % session_locks[candidate]
    lock_address = address(registry.lock)
    if kind == "sharedExclusive" or any(
            candidate in (lock_address, address(registry.lock["exclusiveMutex"])) for candidate in candidates):
        return "waits for registryLock, %s" % registry.registry_lock_text(threads)
    for candidate in candidates:
        fifo, which = registry.fifo_with_mutex(candidate)
        if fifo is not None:
            pointer = fifo.acquire_mutex if which == "acquireMutex" else fifo.region_mutex
            owner = mutex_owner(pointer)
            behind = ("held by %s" % describe_thread(owner, threads)) if owner else "free now"
            return "waits for %s of %s, %s" % (which, fifo_name(fifo), behind)
    return "waits for a mutex of the library (not identified)"


def known_lock(registry, word):
    """Whether a futex word is one of the library's mutexes, or the signal
    of the closes in flight."""
    if registry.fifo_with_mutex(word)[0] is not None or registry.in_close_end_signal(word):
        return True
    return word in (address(registry.lock), address(registry.lock["exclusiveMutex"]))


def describe_thread_wait(registry, thread, threads):
    frames = frames_of(thread)
    for index, frame in enumerate(frames):
        kind = wait_kind(frame.name() or "")
        if kind is not None:
            text = describe_wait(registry, kind, frames[:index + 1], thread.ptid[1], threads)
            return "%s  [frame #%d %s]" % (text, index, frame.name())
    # A C library without unwind information can hide the library's frames
    # behind a sleeping system call; its futex word still names the lock.
    if frames and known_lock(registry, futex_register(frames)):
        return "%s  [futex word of the system call]" % describe_wait(registry, "mutex", frames[:1],
                                                                     thread.ptid[1], threads)
    return None


def show_waiters(registry):
    threads = thread_by_lwp()
    selected = gdb.selected_thread()
    count = 0
    try:
        for thread in sorted(threads.values(), key=lambda t: t.num):
            text = describe_thread_wait(registry, thread, threads)
            if text is not None:
                print("%s: %s" % (describe_thread(thread.ptid[1], threads), text))
                count += 1
    finally:
        if selected is not None:
            selected.switch()
    if count == 0:
        print("no thread waits in the library")


# ---- the commands -----------------------------------------------------------


class VidazohxPrefix(gdb.Command):
    """libViDazoHx state: `vidazohx sessions`, `vidazohx waiters`."""

    def __init__(self):
        super(VidazohxPrefix, self).__init__("vidazohx", gdb.COMMAND_DATA, gdb.COMPLETE_NONE, True)


class VidazohxSessions(gdb.Command):
    """Every registered session of libViDazoHx: generation, parent and children, closes put off,
per FIFO the regions out, the owners of acquireMutex and regionMutex and the state of acquireEvent,
and the closes in flight with their closers and the opens in their window. Reads memory only (works
on a core file)."""

    def __init__(self):
        super(VidazohxSessions, self).__init__("vidazohx sessions", gdb.COMMAND_DATA)

    def invoke(self, argument, from_tty):
        show_sessions(Registry())


class VidazohxWaiters(gdb.Command):
    """The threads waiting in libViDazoHx: for a FIFO's turn, for elements in the lower acquisition,
for a close in flight, for a FIFO's acquireMutex, or for registryLock; with the session and FIFO
and the holder where the lock records one. Reads memory only (works on a core file)."""

    def __init__(self):
        super(VidazohxWaiters, self).__init__("vidazohx waiters", gdb.COMMAND_DATA)

    def invoke(self, argument, from_tty):
        show_waiters(Registry())


# Auto-loading runs this file once per load of the library; the commands are
# made once.
if not getattr(gdb, "_vidazohx_commands", False):
    VidazohxPrefix()
    VidazohxSessions()
    VidazohxWaiters()
    gdb._vidazohx_commands = True

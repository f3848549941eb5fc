"""Shared start-up plumbing of the loopback test servers.

Every server binds 127.0.0.1 on a port the kernel chooses, reports it as the
line "PORT <n>" on stdout, and exits when its parent goes away: the parent
holds the write end of our stdin, so end-of-file on stdin means the test
process ended (also when it was killed) and no server is left orphaned.
SIGTERM ends the server at once as well.
"""
import os
import signal
import sys
import threading


def report_port(port):
    sys.stdout.write("PORT %d\n" % port)
    sys.stdout.flush()


def exit_with_parent():
    def watch():
        try:
            while sys.stdin.buffer.read(4096):
                pass
        except Exception:
            pass
        os._exit(0)

    threading.Thread(target=watch, daemon=True).start()
    signal.signal(signal.SIGTERM, lambda *_: os._exit(0))


def write_atomically(folder, name, data):
    """Writes bytes to folder/tmp-name and renames them into place, so a
    reader never sees a partly written file."""
    tmp = os.path.join(folder, "." + name + ".part")
    with open(tmp, "wb") as f:
        f.write(data)
        f.flush()
        os.fsync(f.fileno())
    os.rename(tmp, os.path.join(folder, name))

"""A PostgreSQL server of the caller's own, in a folder of its own under /tmp (which the
server's user can reach wherever the build tree lives): run by an unprivileged user, reached
only through a Unix socket in that folder, with password logins, so that a wrong password is
refused for real.

The suite starts one server for all its cases and stops it after them, even when they fail:
  postgres_server.py start STATE_FILE   starts one and notes its folder in STATE_FILE
  postgres_server.py stop STATE_FILE    stops it and removes its folder
"""

import atexit
import os
import pwd
import shutil
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from machine import postgres_bin  # noqa: E402

BIN = postgres_bin()
PORT = "5432"  # the socket's name; nothing listens on TCP
ADMIN = "admin"
ADMIN_PASSWORD = "admin-pass"
# No case here survives a crash of the machine itself, so nothing is worth an fsync: a server
# stopped with "immediate" still finds its log in the kernel's cache. One server serves every
# suite that runs at once, the concurrent collates of some among them: room for all.
SETTINGS = """
listen_addresses = ''
port = {port}
unix_socket_directories = '{folder}'
dynamic_shared_memory_type = mmap
max_connections = 150
logging_collector = off
fsync = off
full_page_writes = off
"""


def _owner():
    """The user the server runs as: this one, or `postgres` when this is root."""
    return pwd.getpwnam("postgres") if os.geteuid() == 0 else pwd.getpwuid(os.geteuid())


def _as_owner(command):
    if os.geteuid() != 0:
        return command
    user = _owner()
    return ["setpriv", f"--reuid={user.pw_uid}", f"--regid={user.pw_gid}", "--clear-groups", *command]


class Server:
    def __init__(self, settings="", folder=None):
        """A new server, or with `folder` the running one that another process started there."""
        self.running = folder is not None
        self.folder = folder or tempfile.mkdtemp(prefix="profiledesk-pg-", dir="/tmp")
        self.data = os.path.join(self.folder, "data")
        if self.running:
            return
        atexit.register(self.remove)
        user = _owner()
        os.chown(self.folder, user.pw_uid, user.pw_gid)
        password_file = os.path.join(self.folder, "admin-password")
        with open(password_file, "w", encoding="ascii") as f:
            f.write(ADMIN_PASSWORD + "\n")
        os.chown(password_file, user.pw_uid, user.pw_gid)
        self._owned([f"{BIN}/initdb", "-D", self.data, "-U", ADMIN, f"--pwfile={password_file}",
                     "--auth=scram-sha-256", "--encoding=UTF8", "--no-locale", "--no-sync", "--no-instructions"])
        with open(os.path.join(self.data, "postgresql.conf"), "a", encoding="ascii") as f:
            f.write(SETTINGS.format(port=PORT, folder=self.folder) + settings)
        self.start()

    def _owned(self, command, timeout=120):
        result = subprocess.run(_as_owner(command), cwd=self.folder, capture_output=True,
                                timeout=timeout, check=False)
        if result.returncode != 0:
            raise RuntimeError(f"{command[0]} failed: {result.stderr.decode(errors='replace')}")

    def start(self):
        self._owned([f"{BIN}/pg_ctl", "start", "-D", self.data, "-l", os.path.join(self.folder, "log"),
                     "-w", "-t", "60"])
        self.running = True

    def stop(self, mode="fast"):
        self.running = False
        self._owned([f"{BIN}/pg_ctl", "stop", "-D", self.data, "-m", mode, "-w", "-t", "60"])

    def remove(self):
        """Stops the server however it can and deletes its folder; safe to call twice."""
        if self.running:
            try:
                self.stop()
            except (RuntimeError, subprocess.TimeoutExpired):
                self.stop("immediate")
        shutil.rmtree(self.folder, ignore_errors=True)

    def uri(self, user, db):
        """The connection URI, socket folder percent-encoded as libpq reads it."""
        return f"postgresql://{user}@{self.folder.replace('/', '%2F')}:{PORT}/{db}"

    def env(self, password):
        """An environment with nothing of the caller's PostgreSQL settings but this password."""
        env = {k: v for k, v in os.environ.items() if not k.startswith("PG")}
        env.update(PGPASSWORD=password, PGPASSFILE=os.devnull)
        return env

    def sql(self, statement, db="postgres"):
        """Runs SQL as the administrator; the rows, fields split by '|'."""
        result = subprocess.run([f"{BIN}/psql", "-X", "-q", "-A", "-t", "-v", "ON_ERROR_STOP=1",
                                 "-h", self.folder, "-p", PORT, "-U", ADMIN, "-d", db, "-c", statement],
                                capture_output=True, env=self.env(ADMIN_PASSWORD), timeout=120, check=False)
        if result.returncode != 0:
            raise RuntimeError(f"psql: {result.stderr.decode(errors='replace')}")
        return [line.split("|") for line in result.stdout.decode().splitlines()]


def _noted(state_file):
    """The server that STATE_FILE names, if it names one still there."""
    try:
        with open(state_file, encoding="utf-8") as f:
            folder = f.read().strip()
    except FileNotFoundError:
        return None
    return Server(folder=folder) if folder and os.path.isdir(folder) else None


def attach(state_file):
    """The server that `start` left running for the suite."""
    server = _noted(state_file)
    if server is None:
        raise RuntimeError(f"no server noted in {state_file}: run 'postgres_server.py start' first")
    return server


def main(action, state_file):
    # A server left by a run that was killed before its stop step goes first.
    leftover = _noted(state_file)
    if leftover is not None:
        try:
            leftover.stop("immediate")
        except (RuntimeError, subprocess.TimeoutExpired):
            pass  # already stopped
        shutil.rmtree(leftover.folder, ignore_errors=True)
    if os.path.exists(state_file):
        os.remove(state_file)
    if action == "start":
        server = Server()
        os.makedirs(os.path.dirname(os.path.abspath(state_file)), exist_ok=True)
        with open(state_file, "w", encoding="utf-8") as f:
            f.write(server.folder + "\n")
        atexit.unregister(server.remove)


if __name__ == "__main__":
    if len(sys.argv) != 3 or sys.argv[1] not in ("start", "stop"):
        sys.exit("usage: postgres_server.py start|stop STATE_FILE")
    main(sys.argv[1], sys.argv[2])

"""A PostgreSQL server of the caller's own, in a folder of the build tree: run by an
unprivileged user, reached only through a Unix socket in that folder, with password
logins, so that a wrong password is refused for real."""

import atexit
import glob
import os
import pwd
import shutil
import subprocess
import tempfile

BIN = "/usr/lib/postgresql/15/bin"
PORT = "5432"  # the socket's name; nothing listens on TCP
ADMIN = "admin"
ADMIN_PASSWORD = "admin-pass"
SETTINGS = """
listen_addresses = ''
port = {port}
unix_socket_directories = '{folder}'
dynamic_shared_memory_type = mmap
max_connections = 40
logging_collector = off
"""


def _stop_leftovers(parent):
    """Servers left by an earlier run that was killed before it could stop them."""
    for pid_file in glob.glob(os.path.join(parent, "pg-*", "data", "postmaster.pid")):
        data = os.path.dirname(pid_file)
        subprocess.run(_as_owner([f"{BIN}/pg_ctl", "stop", "-D", data, "-m", "immediate", "-w"]),
                       capture_output=True, timeout=60, check=False)
        shutil.rmtree(os.path.dirname(data), ignore_errors=True)


def _owner():
    """The user the server runs as: this one, or `postgres` when this is root."""
    return pwd.getpwnam("postgres") if os.geteuid() == 0 else pwd.getpwuid(os.geteuid())


def _as_owner(command):
    if os.geteuid() != 0:
        return command
    user = _owner()
    return ["setpriv", f"--reuid={user.pw_uid}", f"--regid={user.pw_gid}", "--clear-groups", *command]


class Server:
    def __init__(self, parent, settings=""):
        os.makedirs(parent, exist_ok=True)
        _stop_leftovers(parent)
        self.folder = tempfile.mkdtemp(prefix="pg-", dir=os.path.abspath(parent))
        self.data = os.path.join(self.folder, "data")
        self.running = False
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

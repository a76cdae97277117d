"""A PostgreSQL server of the test's own, as tests/results/pg_server.h makes
one: a throwaway cluster in a fresh temporary folder, on a free loopback
port, its socket in that folder, logins by password. initdb refuses root,
so as root the server's programs run as the user postgres."""
import glob
import os
import shlex
import shutil
import socket
import subprocess
import tempfile

USER = "zhand"
PASSWORD = "s3cr3t-Pa55"


def _bin(program):
    found = sorted(glob.glob(f"/usr/lib/postgresql/*/bin/{program}"))
    return found[-1] if found else program


def _plain_env(**extra):
    """The environment without the sanitizer's preload, which is for the
    extension alone: PostgreSQL's programs hang with it."""
    env = {k: v for k, v in os.environ.items() if k not in ("LD_PRELOAD", "ASAN_OPTIONS")}
    env.update(extra)
    return env


def _free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class PgServer:
    def __init__(self):
        self.dir = tempfile.mkdtemp(prefix="zhand-pg-")
        self.port = 0
        self.running = False
        if os.geteuid() == 0:
            shutil.chown(self.dir, "postgres", "postgres")
        pw = os.path.join(self.dir, "pw")
        with open(pw, "w") as f:
            f.write(PASSWORD + "\n")
        if os.geteuid() == 0:
            shutil.chown(pw, "postgres")
        self._run([_bin("initdb"), "-D", self.data, "-U", USER, f"--pwfile={pw}",
                   "-A", "scram-sha-256", "-E", "UTF8", "--no-sync", "--no-instructions"])
        for _ in range(3):  # another test may take the free port first
            self.port = _free_port()
            if self.start():
                break

    @property
    def data(self):
        return os.path.join(self.dir, "data")

    def uri(self, user=USER):
        """The server's URI for `user`, without a password."""
        return f"postgresql://{user}@127.0.0.1:{self.port}/postgres"

    def owner_env(self):
        """An environment in which libpq logs in as the owner."""
        return _plain_env(PGPASSWORD=PASSWORD)

    def _run(self, args, check=True):
        command = shlex.join(args)
        if os.geteuid() == 0:
            args = ["runuser", "-u", "postgres", "--", "sh", "-c", command]
        # Into a file, not a pipe: the server that pg_ctl starts keeps it open.
        with open(os.path.join(self.dir, "commands.log"), "a") as log:
            result = subprocess.run(args, stdin=subprocess.DEVNULL, stdout=log,
                                    stderr=subprocess.STDOUT, cwd=self.dir, env=_plain_env())
        if check and result.returncode != 0:
            with open(os.path.join(self.dir, "commands.log")) as log:
                raise RuntimeError(f"{command}: {log.read()}")
        return result.returncode == 0

    def start(self):
        options = (f"-c listen_addresses=127.0.0.1 -p {self.port} -k {self.dir}"
                   " -c fsync=off -c max_connections=20")
        self.running = self._run([_bin("pg_ctl"), "-D", self.data, "-l",
                                  os.path.join(self.dir, "server.log"), "-w", "-t", "60",
                                  "-o", options, "start"], check=False)
        return self.running

    def query(self, sql):
        """Rows of `sql` as lists of texts; the password through the environment."""
        env = _plain_env(PGPASSWORD=PASSWORD)
        out = subprocess.run(["psql", "-h", "127.0.0.1", "-p", str(self.port), "-U", USER,
                              "-d", "postgres", "-At", "-F", "|", "-c", sql], env=env,
                             check=True, capture_output=True, text=True).stdout
        return [line.split("|") for line in out.splitlines()]

    def close(self):
        if self.running:
            self._run([_bin("pg_ctl"), "-D", self.data, "-m", "fast", "-w", "-t", "60", "stop"],
                      check=False)
            self.running = False
        shutil.rmtree(self.dir, ignore_errors=True)

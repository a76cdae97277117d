"""Reading a results store back with sqlite3, as an engineer would."""
import sqlite3


def rows(path, sql, *args):
    with sqlite3.connect(path) as db:
        db.row_factory = sqlite3.Row
        return [dict(r) for r in db.execute(sql, args)]


def runs(path):
    return {r["test"]: r for r in rows(path, "SELECT * FROM runs ORDER BY id")}


def measurements(path, test):
    return rows(path, "SELECT m.* FROM measurements m JOIN runs r ON r.id = m.run_id"
                " WHERE r.test = ? ORDER BY m.seq", test)


def events(path, test):
    return rows(path, "SELECT e.* FROM events e JOIN runs r ON r.id = e.run_id"
                " WHERE r.test = ? ORDER BY e.seq", test)

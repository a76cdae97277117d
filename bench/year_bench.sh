#!/usr/bin/env bash
# zhand-report over a line's months: generated stores of the project's own
# schema with MEASUREMENTS measurements each (default 10 and 100 million),
# as a SQLite file and the same rows loaded into a PostgreSQL server of the
# bench's own with COPY; then the wall time and peak memory of
#   - zhand-report html over the whole store      (goal: under 5 s, 200 MB;
#                                                  the larger at most 1.5x)
#   - zhand-report stats --name "F2 closed"        (goal: under 1 s)
#   - a unit's page, GET /report/unit/SERIAL       (goal: under 0.5 s)
#
#     bench/year_bench.sh [MEASUREMENTS...]
#
# The stores are made once, outside the repository, in $ZHAND_YEAR_DIR
# (default /var/tmp/zhand-year), and kept for the next run: generating 100
# million rows takes a long while on a shared machine. Delete the folder to
# make them anew. ZHAND_YEAR_STORES=sqlite leaves the server out. The rows are made in bulk with plain SQL (a recursive CTE):
# twenty stations over half a year, Multi-Axis runs of 1000 cycles, eight
# position readings a cycle with their limits, integers as the log writes
# them, one station drifting in its last weeks. Each run is inserted while
# running and then ended, as a station records it, so the store's own
# triggers count it.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
report=$root/build/bench/bin/zhand-report
dir=${ZHAND_YEAR_DIR:-/var/tmp/zhand-year}
sizes=("$@")
[ ${#sizes[@]} -eq 0 ] && sizes=(10000000 100000000)
mkdir -p "$dir"
cmake --preset bench >/dev/null
cmake --build --preset bench -j2 --target zhand-report year_schema >/dev/null

per_run=8000  # 1000 cycles of 8 readings

make_sqlite() {  # make_sqlite FILE RUNS
    local file=$1 runs=$2
    rm -f "$file" "$file-wal" "$file-shm"
    # The program makes the store (an import of nothing fails, the store stays).
    "$report" import --results "$file" "$dir/none_HNDAB000101_1.txt" >/dev/null 2>&1 || true
    sqlite3 "$file" <<SQL
PRAGMA synchronous = OFF;
PRAGMA cache_size = -400000;
BEGIN;
WITH RECURSIVE k(i) AS (SELECT 0 UNION ALL SELECT i + 1 FROM k WHERE i < $runs - 1)
INSERT INTO runs (id, uuid, station, software, serial, operator, test, cycles_planned,
                  cycles_done, started, log_file)
SELECT i + 1, printf('%08x-0000-4000-8000-%012x', i, i), 'station-' || (i % 20), '3.0.0',
       'HND' || (100000 + i / 2), 'JD', 'Multi-Axis', 1000, 1000,
       strftime('%Y-%m-%dT%H:%M:%S.000Z', '2026-06-01', '+' || (i * 15552000 / $runs) || ' seconds'),
       'HND' || (100000 + i / 2) || 'JD.txt'
FROM k;
COMMIT;
SQL
    # A batch of runs at a time: inserted while running, then ended.
    local from=1 step=100
    while [ "$from" -le "$runs" ]; do
        local to=$((from + step - 1))
        sqlite3 "$file" <<SQL
PRAGMA synchronous = OFF;
PRAGMA cache_size = -400000;
BEGIN;
WITH RECURSIVE c(j) AS (SELECT 0 UNION ALL SELECT j + 1 FROM c WHERE j < $per_run - 1)
INSERT INTO measurements (run_id, seq, name, value, unit, low, high, outcome, cycle)
SELECT r.id, c.j + 1,
       CASE c.j % 8 WHEN 0 THEN 'F1 closed' WHEN 1 THEN 'F1 open' WHEN 2 THEN 'F2 closed'
            WHEN 3 THEN 'F2 open' WHEN 4 THEN 'F3 closed' WHEN 5 THEN 'F3 open'
            WHEN 6 THEN 'Spread closed' ELSE 'Spread open' END,
       (CASE WHEN c.j % 2 = 0 THEN 15200 ELSE 3000 END) + abs(random() % 41) + abs(random() % 41)
         - 40 + (CASE WHEN r.station = 'station-7' AND r.id > $runs * 9 / 10 THEN 25 ELSE 0 END),
       'counts',
       CASE WHEN c.j % 2 = 0 THEN 15100.0 ELSE 2900.0 END,
       CASE WHEN c.j % 2 = 0 THEN 15300.0 ELSE 3100.0 END,
       NULL, c.j / 8 + 1
FROM runs r, c WHERE r.id BETWEEN $from AND $to ORDER BY r.id, c.j;
UPDATE measurements SET outcome = CASE WHEN value < low OR value > high THEN 'fail' ELSE 'pass' END
 WHERE run_id BETWEEN $from AND $to;
UPDATE runs SET outcome = CASE WHEN id % 13 = 0 THEN 'fail' ELSE 'pass' END,
       ended = started WHERE id BETWEEN $from AND $to;
COMMIT;
SQL
        from=$((to + 1))
    done
    sqlite3 "$file" "PRAGMA wal_checkpoint(TRUNCATE); ANALYZE;" >/dev/null
}

# A PostgreSQL cluster of the bench's own, as the user postgres (initdb
# refuses root), on a port of its own, its socket in the folder.
pg_bin=$(ls -d /usr/lib/postgresql/*/bin | sort -V | tail -1)
pg_port=55437
as_pg() { if [ "$(id -u)" = 0 ]; then su postgres -s /bin/sh -c "$*"; else sh -c "$*"; fi; }
pg_start() {
    local data=$dir/pg
    if [ ! -d "$data" ]; then
        mkdir -p "$data"
        [ "$(id -u)" = 0 ] && chown postgres "$dir" "$data"
        as_pg "$pg_bin/initdb -D $data -U zhand -A trust -E UTF8 --no-sync >/dev/null"
    fi
    as_pg "$pg_bin/pg_ctl -D $data -l $dir/pg.log -w -o '-p $pg_port -k $dir -c listen_addresses=127.0.0.1 -c shared_buffers=512MB -c max_wal_size=8GB -c work_mem=64MB' start >/dev/null"
}
pg_stop() { as_pg "$pg_bin/pg_ctl -D $dir/pg -m fast -w stop >/dev/null" || true; }
psql_db() { psql -X -q -v ON_ERROR_STOP=1 -h 127.0.0.1 -p "$pg_port" -U zhand "$@"; }

make_server() {  # make_server DB FILE
    local db=$1 file=$2
    psql_db -d postgres -c "DROP DATABASE IF EXISTS $db" -c "CREATE DATABASE $db"
    # The program makes the schema, as a station's first contact does.
    "$root/build/bench/bin/year_schema" \
        "postgresql://zhand@127.0.0.1:$pg_port/$db"
    sqlite3 -csv "$file" "SELECT id, uuid, station, software, serial, operator, test,
        cycles_planned, cycles_done, started, ended, outcome, errors, log_file FROM runs" |
        psql_db -d "$db" -c "\\copy runs (id, uuid, station, software, serial, operator, test,
        cycles_planned, cycles_done, started, ended, outcome, errors, log_file) FROM STDIN CSV"
    local runs from=1 step=250
    runs=$(sqlite3 "$file" "SELECT max(id) FROM runs")
    while [ "$from" -le "$runs" ]; do
        sqlite3 -csv "$file" "SELECT run_id, seq, name, value, unit, low, high, outcome, cycle
            FROM measurements WHERE run_id BETWEEN $from AND $((from + step - 1))" |
            psql_db -d "$db" -c "\\copy measurements FROM STDIN CSV"
        from=$((from + step))
    done
    psql_db -d "$db" -c "VACUUM ANALYZE"
}

peak() {  # peak LABEL COMMAND...: wall seconds and peak resident MB
    local label=$1
    shift
    /usr/bin/time -f "%e %M" -o "$dir/time.txt" "$@" >/dev/null 2>"$dir/err.txt" ||
        { cat "$dir/err.txt" >&2; return 1; }
    read -r wall kb <"$dir/time.txt"
    printf '%-44s %7.2f s %7.0f MB\n' "$label" "$wall" "$((kb / 1024))"
}

unit_page() {  # unit_page LABEL STORE SERIAL
    local port=18437
    "$report" serve --listen "127.0.0.1:$port" --results "$2" >"$dir/serve.out" 2>&1 &
    local pid=$!
    for _ in $(seq 100); do grep -q "127.0.0.1:$port" "$dir/serve.out" 2>/dev/null && break; sleep 0.1; done
    curl -s -o /dev/null "http://127.0.0.1:$port/report/unit/$3"  # warm
    local t
    t=$(curl -s -o "$dir/unit.html" -w '%{time_total} %{http_code}' "http://127.0.0.1:$port/report/unit/$3")
    kill "$pid"
    wait "$pid" 2>/dev/null || true
    printf '%-44s %7.2f s (HTTP %s, %s bytes)\n' "$1" "${t% *}" "${t#* }" "$(stat -c %s "$dir/unit.html")"
}

echo "== Load average at the start: $(cut -d' ' -f1-3 /proc/loadavg) on $(nproc) cores"
server=${ZHAND_YEAR_STORES:-sqlite postgresql}
if [[ $server == *postgresql* ]]; then
    pg_start
    trap pg_stop EXIT
fi
for n in "${sizes[@]}"; do
    runs=$((n / per_run))
    file=$dir/store-$n.db
    db=year_$n
    if [ ! -f "$file.done" ]; then
        start=$(date +%s)
        make_sqlite "$file" "$runs"
        touch "$file.done"
        echo "made $file: $(sqlite3 "$file" 'SELECT count(*) FROM measurements') measurements in $(( $(date +%s) - start )) s"
    fi
    if [[ $server == *postgresql* && ! -f "$dir/$db.done" ]]; then
        start=$(date +%s)
        make_server "$db" "$file"
        touch "$dir/$db.done"
        echo "loaded $db: in $(( $(date +%s) - start )) s"
    fi
    serial=$(sqlite3 "$file" "SELECT serial FROM runs ORDER BY id DESC LIMIT 1")
    uri="postgresql://zhand@127.0.0.1:$pg_port/$db"
    echo "-- $n measurements ($runs runs)"
    peak "html, SQLite" "$report" html --results "$file" -o "$dir/page.html"
    echo "   page $(stat -c %s "$dir/page.html") bytes"
    [[ $server == *postgresql* ]] &&
        peak "html, PostgreSQL" "$report" html --results "$uri" -o "$dir/page.html"
    peak "stats --name 'F2 closed', SQLite" "$report" stats --results "$file" --name "F2 closed"
    [[ $server == *postgresql* ]] &&
        peak "stats --name 'F2 closed', PostgreSQL" "$report" stats --results "$uri" --name "F2 closed"
    unit_page "unit page $serial, SQLite" "$file" "$serial"
    [[ $server == *postgresql* ]] && unit_page "unit page $serial, PostgreSQL" "$uri" "$serial"
    true
done
echo "== Load average at the end: $(cut -d' ' -f1-3 /proc/loadavg)"

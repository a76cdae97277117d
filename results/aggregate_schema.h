// Figures of all measurements kept by the store itself as rows arrive, for
// reports over a line's year: whatever writes a measurement (the station's
// journal, the shipper, import, plain SQL INSERT or COPY) fires the trigger
// that keeps them. The record's own tables are not changed.
//
// measurement_stats: per measurement name, test, station and UTC day of the
//   run's start: count, sum, sum of squares, least and greatest value, the
//   values outside the row's own limits, and the moving ranges of each
//   station's stream of the name (test, station; consecutive values in the
//   order rows are stored: run id, then seq): their count and sum. The
//   group's latest limits (of its highest run that gave any) come with the
//   run.
// measurement_streams: each stream's last value, from which the next moving
//   range is taken, whatever day it falls on.
// measurement_bins: per name and day, values counted in bins of three
//   significant digits (the bin's lower edge: floor(v / w) * w with
//   w = 10^(floor(log10 |v|) - 3); 0 for 0).
// measurement_names: each name with its count and unit, and
// measurement_latest: the latest kLatestValues values of each name, a ring
//   by slot (count - 1) mod kLatestValues, for the X-mR chart.
//
// Values that are not finite are left out, as the report leaves them out.
// Rows deleted or changed later are not taken back out: the record is
// written once.
#pragma once

namespace results {

inline constexpr int kLatestValues = 1000;

// The bin of a value, as the stores' triggers work it out.
double BinOf(double value);

// A value the figures take: finite (SQLite keeps no NaN).
#define ZHAND_FINITE(v) v " BETWEEN -1.7976931348623157e308 AND 1.7976931348623157e308"
// The bin of a value, as BinOf works it out.
#define ZHAND_SQLITE_BIN(v)                                                        \
    "CASE WHEN " v " = 0 THEN 0.0 ELSE floor(" v " / power(10, floor(log10(abs(" v \
    "))) - 3))"                                                                    \
    " * power(10, floor(log10(abs(" v "))) - 3) END"
// How a group's figures take in new ones (`excluded`); the latest limits
// are those of the highest run that gave any.
#define ZHAND_SQLITE_ADD_STATS                                                              \
    " ON CONFLICT (name, test, station, day) DO UPDATE SET"                                 \
    " unit = coalesce(excluded.unit, unit), n = n + excluded.n,"                            \
    " total = total + excluded.total, squares = squares + excluded.squares,"                \
    " least = min(least, excluded.least), most = max(most, excluded.most),"                 \
    " out_of_spec = out_of_spec + excluded.out_of_spec, ranges = ranges + excluded.ranges," \
    " range_total = range_total + excluded.range_total,"                                    \
    " low = CASE WHEN excluded.limits_run >= coalesce(limits_run, -1) THEN excluded.low"    \
    " ELSE low END,"                                                                        \
    " high = CASE WHEN excluded.limits_run >= coalesce(limits_run, -1) THEN excluded.high"  \
    " ELSE high END,"                                                                       \
    " limits_run = CASE WHEN excluded.limits_run >= coalesce(limits_run, -1)"               \
    " THEN excluded.limits_run ELSE limits_run END;"

// SQLite: the tables, the figures of the rows already there, and two
// triggers. While a station runs a test, its rows are counted in one go
// when the run ends (or is found interrupted): a trigger for each row would
// cost the station's writer several times what storing the row costs. A row
// of a run that is over already (import, plain SQL, a late fact) is counted
// as it arrives. The triggers' statements are upserts: the station inserts
// with OR IGNORE, which would turn an OR REPLACE of theirs into an ignore.
inline constexpr const char* kSqliteAggregates =
    "CREATE TABLE measurement_stats ("
    " name TEXT NOT NULL, test TEXT NOT NULL, station TEXT NOT NULL, day TEXT NOT NULL,"
    " unit TEXT, n INTEGER NOT NULL, total REAL NOT NULL, squares REAL NOT NULL,"
    " least REAL NOT NULL, most REAL NOT NULL, out_of_spec INTEGER NOT NULL,"
    " ranges INTEGER NOT NULL, range_total REAL NOT NULL,"
    " low REAL, high REAL, limits_run INTEGER,"
    " PRIMARY KEY (name, test, station, day)) WITHOUT ROWID;"
    "CREATE TABLE measurement_streams ("
    " name TEXT NOT NULL, test TEXT NOT NULL, station TEXT NOT NULL, last_value REAL NOT NULL,"
    " PRIMARY KEY (name, test, station)) WITHOUT ROWID;"
    "CREATE TABLE measurement_bins ("
    " name TEXT NOT NULL, day TEXT NOT NULL, bin REAL NOT NULL, n INTEGER NOT NULL,"
    " PRIMARY KEY (name, day, bin)) WITHOUT ROWID;"
    "CREATE TABLE measurement_names ("
    " name TEXT PRIMARY KEY, unit TEXT, n INTEGER NOT NULL) WITHOUT ROWID;"
    "CREATE TABLE measurement_latest ("
    " name TEXT NOT NULL, slot INTEGER NOT NULL, run_id INTEGER NOT NULL,"
    " seq INTEGER NOT NULL, value REAL NOT NULL, PRIMARY KEY (name, slot)) WITHOUT ROWID;"
    // The rows already there, of runs that are over, in one pass each.
    "CREATE TEMP VIEW zhand_counted AS SELECT m.name, r.test, r.station,"
    " substr(r.started, 1, 10) AS day, m.unit, m.run_id, m.seq, m.value, m.low, m.high"
    " FROM measurements m JOIN runs r ON r.id = m.run_id"
    " WHERE r.outcome <> 'running' AND " ZHAND_FINITE("m.value") ";"
    "INSERT INTO measurement_stats SELECT name, test, station, day, max(unit), count(*),"
    " sum(value), sum(value * value), min(value), max(value),"
    " sum((value < low OR value > high) IS 1), count(p), coalesce(sum(abs(value - p)), 0),"
    " max(CASE WHEN lim = 1 THEN low END), max(CASE WHEN lim = 1 THEN high END),"
    " max(CASE WHEN lim = 1 THEN run_id END)"
    " FROM (SELECT v.*,"
    "  lag(v.value) OVER (PARTITION BY v.name, v.test, v.station ORDER BY v.run_id, v.seq) AS p,"
    "  CASE WHEN v.low IS NOT NULL OR v.high IS NOT NULL THEN row_number() OVER (PARTITION BY"
    "  v.name, v.test, v.station, v.day, v.low IS NOT NULL OR v.high IS NOT NULL"
    "  ORDER BY v.run_id DESC, v.seq DESC) END AS lim FROM zhand_counted v)"
    " GROUP BY name, test, station, day;"
    "INSERT INTO measurement_streams SELECT name, test, station, value FROM (SELECT v.*,"
    " row_number() OVER (PARTITION BY v.name, v.test, v.station"
    " ORDER BY v.run_id DESC, v.seq DESC) AS back FROM zhand_counted v) WHERE back = 1;"
    "INSERT INTO measurement_bins SELECT name, day, " ZHAND_SQLITE_BIN("value") ", count(*)"
    " FROM zhand_counted GROUP BY 1, 2, 3;"
    "INSERT INTO measurement_names SELECT name, max(unit), count(*) FROM zhand_counted"
    " GROUP BY name;"
    "INSERT INTO measurement_latest SELECT name, (k - 1) % 1000, run_id, seq, value"
    " FROM (SELECT v.*, row_number() OVER (PARTITION BY v.name ORDER BY v.run_id, v.seq) AS k,"
    "  count(*) OVER (PARTITION BY v.name) AS c FROM zhand_counted v)"
    " WHERE k > c - 1000;"
    "DROP VIEW zhand_counted;"
    // A row of a run that is over, as it arrives.
    "CREATE TRIGGER measurements_aggregate AFTER INSERT ON measurements"
    " WHEN " ZHAND_FINITE("NEW.value") " AND"
    " (SELECT outcome FROM runs WHERE id = NEW.run_id) <> 'running'"
    " BEGIN"
    " INSERT INTO measurement_stats (name, test, station, day, unit, n, total, squares, least,"
    "  most, out_of_spec, ranges, range_total, low, high, limits_run)"
    "  SELECT NEW.name, r.test, r.station, substr(r.started, 1, 10), NEW.unit, 1, NEW.value,"
    "  NEW.value * NEW.value, NEW.value, NEW.value,"
    "  (NEW.value < NEW.low OR NEW.value > NEW.high) IS 1, s.last_value IS NOT NULL,"
    "  coalesce(abs(NEW.value - s.last_value), 0), NEW.low, NEW.high,"
    "  CASE WHEN NEW.low IS NOT NULL OR NEW.high IS NOT NULL THEN NEW.run_id END"
    "  FROM runs r LEFT JOIN measurement_streams s"
    "  ON s.name = NEW.name AND s.test = r.test AND s.station = r.station"
    "  WHERE r.id = NEW.run_id" ZHAND_SQLITE_ADD_STATS
    " INSERT INTO measurement_streams (name, test, station, last_value)"
    "  SELECT NEW.name, r.test, r.station, NEW.value FROM runs r WHERE r.id = NEW.run_id"
    "  ON CONFLICT (name, test, station) DO UPDATE SET last_value = excluded.last_value;"
    " INSERT INTO measurement_bins (name, day, bin, n)"
    "  SELECT NEW.name, substr(r.started, 1, 10), " ZHAND_SQLITE_BIN("NEW.value") ", 1"
    "  FROM runs r WHERE r.id = NEW.run_id"
    "  ON CONFLICT (name, day, bin) DO UPDATE SET n = n + 1;"
    " INSERT INTO measurement_names (name, unit, n) VALUES (NEW.name, NEW.unit, 1)"
    "  ON CONFLICT (name) DO UPDATE SET n = n + 1, unit = coalesce(excluded.unit, unit);"
    " INSERT INTO measurement_latest (name, slot, run_id, seq, value)"
    "  SELECT NEW.name, (n - 1) % 1000, NEW.run_id, NEW.seq, NEW.value"
    "  FROM measurement_names WHERE name = NEW.name"
    "  ON CONFLICT (name, slot) DO UPDATE SET run_id = excluded.run_id, seq = excluded.seq,"
    "  value = excluded.value;"
    " END;"
    // The rows of a run that was running, when it ends or is found
    // interrupted: each statement over the run's rows at once.
    "CREATE TRIGGER runs_aggregate AFTER UPDATE OF outcome ON runs"
    " WHEN OLD.outcome = 'running' AND NEW.outcome <> 'running'"
    " BEGIN"
    " INSERT INTO measurement_stats (name, test, station, day, unit, n, total, squares, least,"
    "  most, out_of_spec, ranges, range_total, low, high, limits_run)"
    // One pass over the run's rows for the sums, the stream's last value
    // joined once per name for the first moving range, and the latest
    // limits from each name's last row that gave any (SQLite takes the bare
    // columns of a max() from its row).
    "  SELECT g.name, NEW.test, NEW.station, substr(NEW.started, 1, 10), g.unit, g.n, g.total,"
    "  g.squares, g.least, g.most, g.out, g.ranges + (s.last_value IS NOT NULL),"
    "  g.range_total + coalesce(abs(g.first - s.last_value), 0), l.low, l.high,"
    "  CASE WHEN l.seq IS NOT NULL THEN NEW.id END"
    "  FROM (SELECT name, max(unit) AS unit, count(*) AS n, sum(value) AS total,"
    "   sum(value * value) AS squares, min(value) AS least, max(value) AS most,"
    "   sum((value < low OR value > high) IS 1) AS out, count(p) AS ranges,"
    "   coalesce(sum(abs(value - p)), 0) AS range_total,"
    "   max(CASE WHEN p IS NULL THEN value END) AS first"
    "   FROM (SELECT m.name, m.unit, m.value, m.low, m.high,"
    "    lag(m.value) OVER (PARTITION BY m.name ORDER BY m.seq) AS p"
    "    FROM measurements m WHERE m.run_id = NEW.id AND " ZHAND_FINITE("m.value") ")"
    "   GROUP BY name) g"
    "  LEFT JOIN measurement_streams s"
    "  ON s.name = g.name AND s.test = NEW.test AND s.station = NEW.station"
    "  LEFT JOIN (SELECT m.name, m.low, m.high, max(m.seq) AS seq FROM measurements m"
    "   WHERE m.run_id = NEW.id AND (m.low IS NOT NULL OR m.high IS NOT NULL) AND "
    ZHAND_FINITE("m.value") " GROUP BY m.name) l ON l.name = g.name"
    "  WHERE true" ZHAND_SQLITE_ADD_STATS
    " INSERT INTO measurement_streams (name, test, station, last_value)"
    "  SELECT name, NEW.test, NEW.station, value FROM (SELECT m.name, m.value,"
    "  row_number() OVER (PARTITION BY m.name ORDER BY m.seq DESC) AS back"
    "  FROM measurements m WHERE m.run_id = NEW.id AND " ZHAND_FINITE("m.value") ")"
    "  WHERE back = 1"
    "  ON CONFLICT (name, test, station) DO UPDATE SET last_value = excluded.last_value;"
    " INSERT INTO measurement_bins (name, day, bin, n)"
    "  SELECT m.name, substr(NEW.started, 1, 10), " ZHAND_SQLITE_BIN("m.value") ", count(*)"
    "  FROM measurements m WHERE m.run_id = NEW.id AND " ZHAND_FINITE("m.value")
    "  GROUP BY 1, 2, 3"
    "  ON CONFLICT (name, day, bin) DO UPDATE SET n = n + excluded.n;"
    " INSERT INTO measurement_latest (name, slot, run_id, seq, value)"
    "  SELECT v.name, (coalesce(c.n, 0) + v.k - 1) % 1000, NEW.id, v.seq, v.value"
    "  FROM (SELECT m.name, m.seq, m.value,"
    "   row_number() OVER (PARTITION BY m.name ORDER BY m.seq) AS k,"
    "   count(*) OVER (PARTITION BY m.name) AS total"
    "   FROM measurements m WHERE m.run_id = NEW.id AND " ZHAND_FINITE("m.value") ") v"
    "  LEFT JOIN measurement_names c ON c.name = v.name WHERE v.k > v.total - 1000"
    "  ON CONFLICT (name, slot) DO UPDATE SET run_id = excluded.run_id, seq = excluded.seq,"
    "  value = excluded.value;"
    " INSERT INTO measurement_names (name, unit, n)"
    "  SELECT m.name, max(m.unit), count(*) FROM measurements m"
    "  WHERE m.run_id = NEW.id AND " ZHAND_FINITE("m.value") " GROUP BY m.name"
    "  ON CONFLICT (name) DO UPDATE SET n = n + excluded.n, unit = coalesce(excluded.unit, unit);"
    " END;";

#undef ZHAND_FINITE
#undef ZHAND_SQLITE_BIN
#undef ZHAND_SQLITE_ADD_STATS

// The new rows of a statement with their run's test, station and day.
#define ZHAND_NEW_VALUES                                                                      \
    "(SELECT n.name, r.test, r.station, left(r.started, 10) AS day, n.unit, n.run_id, n.seq," \
    " n.value, n.low, n.high FROM new_rows n JOIN runs r ON r.id = n.run_id"                  \
    " WHERE r.outcome <> 'running' AND n.value = n.value AND n.value <> 'Infinity'"           \
    " AND n.value <> '-Infinity')"

// The rows of the runs a statement ended (or found interrupted).
#define ZHAND_ENDED_VALUES                                                                    \
    "(SELECT m.name, n.test, n.station, left(n.started, 10) AS day, m.unit, m.run_id, m.seq," \
    " m.value, m.low, m.high FROM new_runs n JOIN old_runs o ON o.id = n.id"                  \
    " JOIN measurements m ON m.run_id = n.id"                                                 \
    " WHERE o.outcome = 'running' AND n.outcome <> 'running' AND m.value = m.value"           \
    " AND m.value <> 'Infinity' AND m.value <> '-Infinity')"

// The rows stored before the figures were kept.
#define ZHAND_OLD_VALUES                                                                      \
    "(SELECT m.name, r.test, r.station, left(r.started, 10) AS day, m.unit, m.run_id, m.seq," \
    " m.value, m.low, m.high FROM measurements m JOIN runs r ON r.id = m.run_id"              \
    " WHERE r.outcome <> 'running' AND m.value = m.value AND m.value <> 'Infinity'"           \
    " AND m.value <> '-Infinity')"

// The figures of the rows `source` gives, taken in by a trigger function.
#define ZHAND_PG_COUNT(source)                                                                    \
    " SECURITY DEFINER SET search_path = public, pg_temp AS $f$"                                  \
    " BEGIN"                                                                                      \
    " WITH ordered AS (SELECT v.*, lag(v.value) OVER w AS prev, row_number() OVER w AS k"         \
    "   FROM " source                                                                             \
    " v"                                                                                          \
    "   WINDOW w AS (PARTITION BY v.name, v.test, v.station ORDER BY v.run_id, v.seq)),"          \
    "  before AS (SELECT o.*, CASE WHEN o.k = 1 THEN (SELECT s.last_value"                        \
    "   FROM measurement_streams s WHERE s.name = o.name AND s.test = o.test"                     \
    "   AND s.station = o.station) ELSE o.prev END AS p FROM ordered o),"                         \
    "  streams AS (INSERT INTO measurement_streams AS t SELECT name, test, station,"              \
    "   (array_agg(value ORDER BY run_id DESC, seq DESC))[1] FROM before"                         \
    "   GROUP BY 1, 2, 3 ORDER BY 1, 2, 3"                                                        \
    "   ON CONFLICT (name, test, station) DO UPDATE SET last_value = EXCLUDED.last_value)"        \
    " INSERT INTO measurement_stats AS s SELECT name, test, station, day, max(unit), count(*),"   \
    "  sum(value), sum(value * value), min(value), max(value),"                                   \
    "  count(*) FILTER (WHERE value < low OR value > high), count(p),"                            \
    "  coalesce(sum(abs(value - p)), 0),"                                                         \
    "  (array_agg(low ORDER BY run_id DESC, seq DESC)"                                            \
    "   FILTER (WHERE low IS NOT NULL OR high IS NOT NULL))[1],"                                  \
    "  (array_agg(high ORDER BY run_id DESC, seq DESC)"                                           \
    "   FILTER (WHERE low IS NOT NULL OR high IS NOT NULL))[1],"                                  \
    "  max(run_id) FILTER (WHERE low IS NOT NULL OR high IS NOT NULL)"                            \
    "  FROM before GROUP BY name, test, station, day ORDER BY name, test, station, day"           \
    "  ON CONFLICT (name, test, station, day) DO UPDATE SET"                                      \
    "  unit = coalesce(EXCLUDED.unit, s.unit), n = s.n + EXCLUDED.n,"                             \
    "  total = s.total + EXCLUDED.total, squares = s.squares + EXCLUDED.squares,"                 \
    "  least = least(s.least, EXCLUDED.least), most = greatest(s.most, EXCLUDED.most),"           \
    "  out_of_spec = s.out_of_spec + EXCLUDED.out_of_spec, ranges = s.ranges + EXCLUDED.ranges,"  \
    "  range_total = s.range_total + EXCLUDED.range_total,"                                       \
    "  low = CASE WHEN EXCLUDED.limits_run >= coalesce(s.limits_run, -1) THEN EXCLUDED.low"       \
    "  ELSE s.low END,"                                                                           \
    "  high = CASE WHEN EXCLUDED.limits_run >= coalesce(s.limits_run, -1) THEN EXCLUDED.high"     \
    "  ELSE s.high END,"                                                                          \
    "  limits_run = greatest(EXCLUDED.limits_run, s.limits_run);"                                 \
    " INSERT INTO measurement_bins AS b SELECT name, day, zhand_bin(value), count(*)"             \
    "  FROM " source                                                                              \
    " v GROUP BY 1, 2, 3 ORDER BY 1, 2, 3"                                                        \
    "  ON CONFLICT (name, day, bin) DO UPDATE SET n = b.n + EXCLUDED.n;"                          \
    " WITH fresh AS (SELECT * FROM " source                                                       \
    " v),"                                                                                        \
    "  counted AS (SELECT name, max(unit) AS unit, count(*) AS c FROM fresh GROUP BY name),"      \
    "  bumped AS (INSERT INTO measurement_names AS m SELECT name, unit, c FROM counted"           \
    "   ORDER BY name ON CONFLICT (name) DO UPDATE SET n = m.n + EXCLUDED.n,"                     \
    "   unit = coalesce(EXCLUDED.unit, m.unit) RETURNING m.name, m.n),"                           \
    "  numbered AS (SELECT f.*, row_number() OVER (PARTITION BY f.name ORDER BY f.run_id, f.seq)" \
    "   AS k FROM fresh f)"                                                                       \
    " INSERT INTO measurement_latest AS l SELECT u.name,"                                         \
    "  ((b.n - c.c + u.k - 1) % 1000)::integer, u.run_id, u.seq, u.value"                         \
    "  FROM numbered u JOIN counted c ON c.name = u.name JOIN bumped b ON b.name = u.name"        \
    "  WHERE u.k > c.c - 1000 ORDER BY 1, 2"                                                      \
    "  ON CONFLICT (name, slot) DO UPDATE SET run_id = EXCLUDED.run_id, seq = EXCLUDED.seq,"      \
    "  value = EXCLUDED.value;"                                                                   \
    " RETURN NULL;"                                                                               \
    " END $f$;"

// PostgreSQL: the same tables and the same rule (a run's rows count once it
// is over), kept by statement triggers that take each statement's new rows
// at once (a shipment, a COPY) from its transition table, or the rows of
// the runs a statement ended, and every upsert in key order, so that stations shipping at once
// wait for each other rather than deadlock. The trigger function runs as
// its owner (SECURITY DEFINER): a station that may only insert into the
// record still keeps the figures.
inline constexpr const char* kPostgresAggregates =
    "CREATE TABLE measurement_stats ("
    " name text NOT NULL, test text NOT NULL, station text NOT NULL, day text NOT NULL,"
    " unit text, n bigint NOT NULL, total double precision NOT NULL,"
    " squares double precision NOT NULL, least double precision NOT NULL,"
    " most double precision NOT NULL, out_of_spec bigint NOT NULL, ranges bigint NOT NULL,"
    " range_total double precision NOT NULL,"
    " low double precision, high double precision, limits_run bigint,"
    " PRIMARY KEY (name, test, station, day));"
    "CREATE TABLE measurement_streams ("
    " name text NOT NULL, test text NOT NULL, station text NOT NULL,"
    " last_value double precision NOT NULL, PRIMARY KEY (name, test, station));"
    "CREATE TABLE measurement_bins ("
    " name text NOT NULL, day text NOT NULL, bin double precision NOT NULL, n bigint NOT NULL,"
    " PRIMARY KEY (name, day, bin));"
    "CREATE TABLE measurement_names (name text PRIMARY KEY, unit text, n bigint NOT NULL);"
    "CREATE TABLE measurement_latest ("
    " name text NOT NULL, slot integer NOT NULL, run_id bigint NOT NULL, seq integer NOT NULL,"
    " value double precision NOT NULL, PRIMARY KEY (name, slot));"
    "CREATE FUNCTION zhand_bin(v double precision) RETURNS double precision"
    " LANGUAGE sql IMMUTABLE AS $$ SELECT CASE WHEN v = 0 THEN 0::double precision ELSE"
    " floor(v / power(10::double precision, floor(log(abs(v))) - 3))"
    " * power(10::double precision, floor(log(abs(v))) - 3) END $$;"
    "CREATE FUNCTION measurements_aggregate() RETURNS trigger LANGUAGE plpgsql"
    ZHAND_PG_COUNT(ZHAND_NEW_VALUES)
    "CREATE FUNCTION runs_aggregate() RETURNS trigger LANGUAGE plpgsql"
    ZHAND_PG_COUNT(ZHAND_ENDED_VALUES)
    // The rows already there.
    "INSERT INTO measurement_stats SELECT name, test, station, day, max(unit), count(*),"
    " sum(value), sum(value * value), min(value), max(value),"
    " count(*) FILTER (WHERE value < low OR value > high), count(p),"
    " coalesce(sum(abs(value - p)), 0),"
    " (array_agg(low ORDER BY run_id DESC, seq DESC)"
    "  FILTER (WHERE low IS NOT NULL OR high IS NOT NULL))[1],"
    " (array_agg(high ORDER BY run_id DESC, seq DESC)"
    "  FILTER (WHERE low IS NOT NULL OR high IS NOT NULL))[1],"
    " max(run_id) FILTER (WHERE low IS NOT NULL OR high IS NOT NULL)"
    " FROM (SELECT v.*, lag(v.value) OVER (PARTITION BY v.name, v.test, v.station"
    "  ORDER BY v.run_id, v.seq) AS p FROM " ZHAND_OLD_VALUES
    " v) o"
    " GROUP BY name, test, station, day;"
    "INSERT INTO measurement_streams SELECT name, test, station,"
    " (array_agg(value ORDER BY run_id DESC, seq DESC))[1] FROM " ZHAND_OLD_VALUES
    " v"
    " GROUP BY 1, 2, 3;"
    "INSERT INTO measurement_bins SELECT name, day, zhand_bin(value), count(*)"
    " FROM " ZHAND_OLD_VALUES
    " v GROUP BY 1, 2, 3;"
    "INSERT INTO measurement_names SELECT name, max(unit), count(*)"
    " FROM " ZHAND_OLD_VALUES
    " v GROUP BY 1;"
    "INSERT INTO measurement_latest SELECT name, ((k - 1) % 1000)::integer, run_id, seq, value"
    " FROM (SELECT v.*, row_number() OVER (PARTITION BY v.name ORDER BY v.run_id, v.seq) AS k,"
    "  count(*) OVER (PARTITION BY v.name) AS c FROM " ZHAND_OLD_VALUES
    " v) o"
    " WHERE k > c - 1000;"
    "CREATE TRIGGER measurements_aggregate AFTER INSERT ON measurements"
    " REFERENCING NEW TABLE AS new_rows FOR EACH STATEMENT"
    " EXECUTE FUNCTION measurements_aggregate();"
    "CREATE TRIGGER runs_aggregate AFTER UPDATE ON runs"
    " REFERENCING OLD TABLE AS old_runs NEW TABLE AS new_runs FOR EACH STATEMENT"
    " EXECUTE FUNCTION runs_aggregate();";

#undef ZHAND_NEW_VALUES
#undef ZHAND_ENDED_VALUES
#undef ZHAND_PG_COUNT
#undef ZHAND_OLD_VALUES

}  // namespace results

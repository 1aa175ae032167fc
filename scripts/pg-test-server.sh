# Sourced by scripts/test: a private PostgreSQL cluster in a temporary folder on a free port,
# for the tests' PostgreSQL rows. initdb refuses root, so as root it runs as the postgres user.
# Sets CAFE_TEST_POSTGRES to the server's URI and stops the server when the script exits.

pg_bin() { ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V | tail -n 1; }

start_test_postgres() {
    local bin; bin=$(pg_bin)
    [ -n "$bin" ] || { echo "PostgreSQL is not installed" >&2; return 1; }
    PG_TEST_DIR=$(mktemp -d /tmp/cafe-pg.XXXXXX)
    local as=()
    if [ "$(id -u)" -eq 0 ]; then
        chown postgres "$PG_TEST_DIR"
        as=(runuser -u postgres --)
    fi
    PG_AS=("${as[@]}")
    "${as[@]}" "$bin/initdb" -D "$PG_TEST_DIR/data" -A trust -U cafe -E UTF8 --locale=C.UTF-8 \
        >"$PG_TEST_DIR/initdb.log" 2>&1 || { cat "$PG_TEST_DIR/initdb.log" >&2; return 1; }
    local port
    for _ in $(seq 1 20); do
        port=$((40000 + RANDOM % 20000))
        if "${as[@]}" "$bin/pg_ctl" -D "$PG_TEST_DIR/data" -l "$PG_TEST_DIR/server.log" -w \
            -o "-p $port -k $PG_TEST_DIR -c listen_addresses=127.0.0.1 -c fsync=off" start \
            >/dev/null 2>&1; then
            PG_TEST_BIN=$bin
            export CAFE_TEST_POSTGRES="postgresql://cafe@127.0.0.1:$port/postgres"
            trap stop_test_postgres EXIT
            echo "PostgreSQL test server on 127.0.0.1:$port"
            return 0
        fi
    done
    cat "$PG_TEST_DIR/server.log" >&2
    return 1
}

stop_test_postgres() {
    [ -n "${PG_TEST_DIR:-}" ] || return 0
    "${PG_AS[@]}" "$PG_TEST_BIN/pg_ctl" -D "$PG_TEST_DIR/data" -m immediate stop >/dev/null 2>&1
    rm -rf "$PG_TEST_DIR"
    PG_TEST_DIR=
}

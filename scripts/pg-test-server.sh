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
    # TLS as a café would set it up: its own CA, a server certificate for the address the
    # desks use; the tests connect with sslmode=verify-full and this CA.
    openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=cafe test CA" \
        -keyout "$PG_TEST_DIR/ca.key" -out "$PG_TEST_DIR/ca.crt" >/dev/null 2>&1 &&
    openssl req -newkey rsa:2048 -nodes -subj "/CN=127.0.0.1" \
        -keyout "$PG_TEST_DIR/server.key" -out "$PG_TEST_DIR/server.csr" >/dev/null 2>&1 &&
    printf 'subjectAltName=IP:127.0.0.1\n' >"$PG_TEST_DIR/san.ext" &&
    openssl x509 -req -in "$PG_TEST_DIR/server.csr" -CA "$PG_TEST_DIR/ca.crt" \
        -CAkey "$PG_TEST_DIR/ca.key" -CAcreateserial -days 2 -extfile "$PG_TEST_DIR/san.ext" \
        -out "$PG_TEST_DIR/server.crt" >/dev/null 2>&1 ||
        { echo "openssl could not make the test certificates" >&2; return 1; }
    chmod 600 "$PG_TEST_DIR/server.key"
    [ "$(id -u)" -eq 0 ] && chown postgres "$PG_TEST_DIR/server.key" "$PG_TEST_DIR/server.crt"
    local port
    for _ in $(seq 1 20); do
        port=$((40000 + RANDOM % 20000))
        if "${as[@]}" "$bin/pg_ctl" -D "$PG_TEST_DIR/data" -l "$PG_TEST_DIR/server.log" -w \
            -o "-p $port -k $PG_TEST_DIR -c listen_addresses=127.0.0.1 -c fsync=off -c ssl=on -c ssl_cert_file=$PG_TEST_DIR/server.crt -c ssl_key_file=$PG_TEST_DIR/server.key" start \
            >/dev/null 2>&1; then
            PG_TEST_BIN=$bin
            export CAFE_TEST_POSTGRES="postgresql://cafe@127.0.0.1:$port/postgres"
            export CAFE_TEST_POSTGRES_CA="$PG_TEST_DIR/ca.crt"
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

# Sourced by scripts/test and scripts/coverage: the PostgreSQL server of the
# tests, in a fresh folder, its URIs exported for the server tests. The
# printing tests start print servers of their own.
#   start_test_server   makes and starts it; sets $pgdir
#   stop_test_server    stops and removes it (call it however the run ends)

start_test_server() {
  pgdir=$(mktemp -d /tmp/zeplo-pg.XXXXXX)
  ZEPLO_TEST_PG=$("$root/scripts/pg-server" start "$pgdir")
  ZEPLO_TEST_PG_READONLY=$(cat "$pgdir/uri-readonly")
  ZEPLO_TEST_PG_TLS=$(cat "$pgdir/uri-tls")
  ZEPLO_TEST_PG_LOGIN=$(cat "$pgdir/uri-login")
  export ZEPLO_TEST_PG ZEPLO_TEST_PG_READONLY ZEPLO_TEST_PG_TLS ZEPLO_TEST_PG_LOGIN
  # A session left idle inside a transaction is ended after a second, as a strict
  # administrator would have it: nothing of the program may depend on one.
  "$root/scripts/pg-server" set "$pgdir" idle_in_transaction_session_timeout 1s
}

stop_test_server() {
  [ -n "${pgdir:-}" ] || return 0
  "$root/scripts/pg-server" stop "$pgdir" || true
  rm -rf "$pgdir"
}

#!/usr/bin/env bash
# The crypto module as installed: the program links no libcrypto, `cmake
# --install` puts parcelix-crypto.so in lib/parcelix/, a program in bin/ finds
# it there (the SHA-256 it makes agrees with sha256sum), and without it the
# lookup says what is missing instead of failing in any other way.
set -euo pipefail
: "${PARCELIX:?}"
build="$(dirname "$PARCELIX")"
probe="$build/parcelix-signature-probe"
[ -f "$build/cmake_install.cmake" ] || { echo "no build tree next to $PARCELIX"; exit 77; }
[ -x "$probe" ] || { echo "FAIL: parcelix-signature-probe is not built beside the program" >&2; exit 1; }
tmp="$(mktemp -d)"
trap 'rm -rf "$tmp"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

if command -v ldd >/dev/null; then
  program_libs="$(ldd "$PARCELIX")"
  module_libs="$(ldd "$build/parcelix-crypto.so")"
  ! grep -q 'libcrypto' <<<"$program_libs" || fail "the program links libcrypto"
  grep -q 'libcrypto' <<<"$module_libs" || fail "the module does not link libcrypto"
  ! grep -q 'not found' <<<"$module_libs" || fail "the module misses a library"
fi
# Only the table's entry point is exported, no OpenSSL or C++ symbol.
if command -v nm >/dev/null; then
  exported="$(nm -D --defined-only "$build/parcelix-crypto.so" | awk '$2 ~ /^[TDBRV]$/ {print $3}')"
  [ "$exported" = parcelix_crypto_api ] || fail "the module exports more than its entry: $(echo "$exported" | head -5)"
fi

prefix="$tmp/prefix"
cmake --install "$build" --prefix "$prefix" >/dev/null
module="$prefix/lib/parcelix/parcelix-crypto.so"
[ -f "$module" ] || fail "not installed: lib/parcelix/parcelix-crypto.so"
head -c 300000 /dev/urandom >"$tmp/Some Game.jar"
want="$(sha256sum "$tmp/Some Game.jar" | cut -c1-64)"
got="$("$probe" --program "$prefix/bin/parcelix" --sha256 "$tmp/Some Game.jar" 2>/dev/null | head -n1 || true)"
[ "$got" = "$tmp/Some Game.jar: sha256: $want" ] || fail "the installed layout: $got"

mv "$module" "$tmp/away.so"
set +e
"$probe" --program "$prefix/bin/parcelix" --sha256 "$tmp/Some Game.jar" >"$tmp/out" 2>"$tmp/err"
status=$?
set -e
[ "$status" -eq 1 ] || fail "exit status $status without the module"
grep -q 'parcelix-crypto.so is not installed' "$tmp/err" || fail "no word of the missing module: $(cat "$tmp/err")"
# A file that is no module: refused with the loader's reason.
echo "not a library" >"$module"
set +e
"$probe" --program "$prefix/bin/parcelix" "$tmp/Some Game.jar" >/dev/null 2>"$tmp/err"
status=$?
set -e
[ "$status" -eq 1 ] && [ -s "$tmp/err" ] || fail "a broken module: status $status, $(cat "$tmp/err")"
echo "ok"

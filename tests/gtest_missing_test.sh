#!/usr/bin/env bash
# What the README says of a missing GoogleTest is what the configuration
# does: it stops, with a message naming the package to install (a build that
# quietly left its tests out would pass any check), and
# -DTARN_BUILD_TESTS=OFF configures the rest without them. Every sentence of
# the README about a missing GoogleTest must say so, none that the tests are
# left out.
#
#   gtest_missing_test.sh SOURCE_DIR
set -euo pipefail
source=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}

common=(-DTARN_BUILD_EDITOR=OFF -DCMAKE_DISABLE_FIND_PACKAGE_GTest=ON -DTARN_GTEST_SOURCE_DIR=)
if cmake -S "$source" -B "$work/without" "${common[@]}" >"$work/without.log" 2>&1; then
  fail "the configuration went on without GoogleTest"
elif ! grep -q "GoogleTest not found: install libgtest-dev" "$work/without.log"; then
  fail "the configuration stopped without naming the package:"
  cat "$work/without.log" >&2
fi
if ! cmake -S "$source" -B "$work/off" "${common[@]}" -DTARN_BUILD_TESTS=OFF \
  >"$work/off.log" 2>&1; then
  fail "-DTARN_BUILD_TESTS=OFF did not configure without GoogleTest:"
  cat "$work/off.log" >&2
fi

# The README's sentences that speak of a missing GoogleTest.
sentences=$(tr '\n' ' ' <"$source/README.md" | tr -s ' ' | grep -oiE \
  "[^.;]*(without it|missing GoogleTest)[^.;]*" || true)
[ -n "$sentences" ] || fail "the README says nothing of a missing GoogleTest"
while IFS= read -r sentence; do
  [ -n "$sentence" ] || continue
  if grep -qiE "left out|rest builds" <<<"$sentence"; then
    fail "the README says the tests are left out: '$sentence'"
  elif ! grep -qiE "stops" <<<"$sentence"; then
    fail "the README does not say the configuration stops: '$sentence'"
  fi
done <<<"$sentences"

[ "$failures" -eq 0 ] || exit 1
echo "ok: a missing GoogleTest stops the configuration, as the README says"

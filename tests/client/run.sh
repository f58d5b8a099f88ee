#!/usr/bin/env bash
# Runs the MCP SDK client test against a built server.
#   tests/client/run.sh <path to brask-tolvane-mcp>
# Exit status 77 means skipped: Node.js 18 or later and npm are needed, and
# CTest must not count a run without them as a pass.
set -euo pipefail

if [ $# -ne 1 ]; then
  echo "usage: $0 <path to brask-tolvane-mcp>" >&2
  exit 2
fi
binary=$(realpath "$1")
here=$(cd "$(dirname "$0")" && pwd)

if ! command -v node >/dev/null 2>&1 || ! command -v npm >/dev/null 2>&1; then
  echo "SKIPPED: node and npm are needed for the MCP SDK client test"
  exit 77
fi
node_major=$(node -p 'process.versions.node.split(".")[0]')
if [ "$node_major" -lt 18 ]; then
  echo "SKIPPED: Node.js 18 or later is needed, found $(node --version)"
  exit 77
fi

cd "$here"
# The lock file pins every package; a warm cache makes this work offline.
# A machine that cannot reach the registry skips the test, as one without
# Node.js does; any other failure of `npm ci` (a broken lock file) fails it.
if ! npm_log=$(npm ci --prefer-offline --no-audit --no-fund --loglevel=error 2>&1); then
  if grep -Eqi 'ENOTFOUND|EAI_AGAIN|ETIMEDOUT|ECONNREFUSED|ECONNRESET|ENETUNREACH|EHOSTUNREACH|network|proxy|fetch failed' <<<"$npm_log"; then
    echo "SKIPPED: npm ci could not fetch the client's packages:"
    grep -Ei 'ENOTFOUND|EAI_AGAIN|ETIMEDOUT|ECONNREFUSED|ECONNRESET|ENETUNREACH|EHOSTUNREACH|network|proxy|fetch failed' <<<"$npm_log" | head -n 3
    exit 77
  fi
  printf '%s\n' "$npm_log" >&2
  exit 1
fi
BT_SERVER_BINARY="$binary" exec node --test server.test.js

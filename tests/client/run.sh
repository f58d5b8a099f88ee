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
npm ci --prefer-offline --no-audit --no-fund --loglevel=error
BT_SERVER_BINARY="$binary" exec node --test server.test.js

#!/usr/bin/env bash
# A short scripted session through the server, on a throwaway vault and
# configuration under build/demo (its own HOME; the user's is never read).
# Prints each request and the server's answer.
set -euo pipefail
cd "$(dirname "$0")/.."
binary=build/brask-tolvane-mcp
demo=$PWD/build/demo
rm -rf "$demo"
mkdir -p "$demo/home/.config/brask-tolvane" "$demo/vault/notes" "$demo/vault/.brask-tolvane"
printf '{"enabled":true,"vault_path":"%s"}\n' "$demo/vault" >"$demo/home/.config/brask-tolvane/mcp.json"

requests=(
  '{"jsonrpc":"2.0","id":1,"method":"initialize","params":{"protocolVersion":"2024-11-05","capabilities":{},"clientInfo":{"name":"demo","version":"1"}}}'
  '{"jsonrpc":"2.0","method":"notifications/initialized"}'
  '{"jsonrpc":"2.0","id":2,"method":"tools/list"}'
  '{"jsonrpc":"2.0","id":3,"method":"tools/call","params":{"name":"upsert_note","arguments":{"id":"plan","title":"Plan #work","body":"The plan for the week. See [[Ideas]]."}}}'
  '{"jsonrpc":"2.0","id":4,"method":"tools/call","params":{"name":"upsert_note","arguments":{"id":"ideas","title":"Ideas","body":"Loose ideas that feed the [[Plan #work]].","metas":{"status":"draft"}}}}'
  '{"jsonrpc":"2.0","id":5,"method":"tools/call","params":{"name":"search_notes","arguments":{"query":"ideas #work"}}}'
  '{"jsonrpc":"2.0","id":6,"method":"tools/call","params":{"name":"list_backlinks","arguments":{"id":"plan"}}}'
  '{"jsonrpc":"2.0","id":7,"method":"tools/call","params":{"name":"upsert_note","arguments":{"id":"plan","title":"Weekly plan","body":"The plan for the week. See [[Ideas]]."}}}'
  '{"jsonrpc":"2.0","id":8,"method":"tools/call","params":{"name":"get_note","arguments":{"id":"ideas"}}}'
  '{"jsonrpc":"2.0","id":9,"method":"tools/call","params":{"name":"delete_note","arguments":{"id":"ideas"}}}'
  '{"jsonrpc":"2.0","id":10,"method":"tools/call","params":{"name":"list_notes","arguments":{}}}'
)

mapfile -t answers < <(printf '%s\n' "${requests[@]}" | env -u BRASK_TOLVANE_VAULT HOME="$demo/home" "$binary")
a=0
for request in "${requests[@]}"; do
  printf '\n-> %s\n' "$request"
  # notifications get no answer
  if [[ $request == '{"jsonrpc":"2.0","id":'* ]]; then
    printf '<- %s\n' "${answers[a]}"
    a=$((a + 1))
  fi
done

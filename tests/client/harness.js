// Starts the server binary under the MCP SDK client, with a throw-away HOME
// and vaults, and checks answers the way an agent host would see them.

import assert from 'node:assert/strict';
import { mkdtempSync, mkdirSync, rmSync, writeFileSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join } from 'node:path';

import { Client } from '@modelcontextprotocol/sdk/client/index.js';
import { StdioClientTransport } from '@modelcontextprotocol/sdk/client/stdio.js';
import { McpError } from '@modelcontextprotocol/sdk/types.js';

export const binary = process.env.BT_SERVER_BINARY;
if (!binary) throw new Error('BT_SERVER_BINARY must name the server binary');

// A temporary directory tree, removed by cleanup().
export class Scratch {
  constructor() {
    this.root = mkdtempSync(join(tmpdir(), 'bt-client-'));
  }

  // A HOME directory; with `mcp` given, its .config/brask-tolvane/mcp.json.
  home(name, mcp) {
    const home = join(this.root, name);
    mkdirSync(join(home, '.config', 'brask-tolvane'), { recursive: true });
    if (mcp !== undefined) writeMcpConfig(home, mcp);
    return home;
  }

  // A vault: notes/ and the .brask-tolvane marker directory.
  vault(name) {
    const root = join(this.root, name);
    mkdirSync(join(root, 'notes'), { recursive: true });
    mkdirSync(join(root, '.brask-tolvane'), { recursive: true });
    return root;
  }

  // A plain directory that is not a vault.
  dir(name) {
    const dir = join(this.root, name);
    mkdirSync(dir, { recursive: true });
    return dir;
  }

  cleanup() {
    rmSync(this.root, { recursive: true, force: true });
  }
}

export function mcpConfigPath(home) {
  return join(home, '.config', 'brask-tolvane', 'mcp.json');
}

export function writeMcpConfig(home, config) {
  writeFileSync(mcpConfigPath(home), JSON.stringify(config));
}

// A connected client session. `env` replaces the inherited HOME and adds
// variables such as BRASK_TOLVANE_VAULT; `capabilities` are the client's
// own (roots, for a client that announces changes to them); `args` are the
// server's (--protocol); everything the server writes on stderr is kept and
// given by close().
export async function connect(env, capabilities = {}, args = []) {
  const transport = new StdioClientTransport({ command: binary, args, env, stderr: 'pipe' });
  let stderr = '';
  transport.stderr.on('data', (chunk) => {
    stderr += chunk.toString('utf8');
  });
  // The stdio transport has no use for the negotiated version; giving it a
  // setter records which version the client accepted.
  let protocolVersion;
  transport.setProtocolVersion = (version) => {
    protocolVersion = version;
  };
  const client = new Client({ name: 'brask-tolvane-client-test', version: '0.0.0' }, { capabilities });
  await client.connect(transport);
  let closed;
  return {
    client,
    protocolVersion: () => protocolVersion,
    // Closes stdin, waits for the server to exit and gives its stderr text.
    // Safe to call again; a session left open keeps the test run alive.
    close() {
      closed ??= client.close().then(() => stderr);
      return closed;
    },
  };
}

// The object a successful call carries: one text item holding compact JSON
// whose members are exactly `keys`, in that order.
export function resultObject(result, keys) {
  assert.equal(result.isError, undefined, 'no error flag on success');
  assert.equal(result.structuredContent, undefined, 'no structured content');
  assert.equal(result.content.length, 1, 'exactly one content item');
  const [item] = result.content;
  assert.equal(item.type, 'text');
  const value = JSON.parse(item.text);
  assert.equal(JSON.stringify(value), item.text, 'compact text');
  assert.deepEqual(Object.keys(value), keys);
  return value;
}

export async function call(client, name, args, keys) {
  return resultObject(await client.callTool({ name, arguments: args }), keys);
}

// The SDK surfaces a JSON-RPC error answer as an McpError whose message is
// prefixed with the code.
export async function assertRpcError(promise, code, text, label = '') {
  await assert.rejects(
    promise,
    (error) => {
      const want = `MCP error ${code}: ${text}`;
      if (!(error instanceof McpError) || error.code !== code || error.message !== want) {
        assert.fail(`${label}got ${JSON.stringify(String(error))}, want ${JSON.stringify(want)}`);
      }
      return true;
    },
    `${label}expected an error answer`,
  );
}

export async function assertToolError(client, name, args, text) {
  const label = `${name} ${JSON.stringify(args)}: `;
  await assertRpcError(client.callTool({ name, arguments: args }), -32000, text, label);
}

export const idPattern = /^[a-z][0-9a-z]{23}$/;
export const timestampPattern = /^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d(\.\d{3}|\.\d{6}|\.\d{9})?\+00:00$/;

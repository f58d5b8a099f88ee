// The server as an agent host sees it through the MCP TypeScript SDK client:
// the handshake, the tool catalogue, every tool's result and failure texts,
// and a silent stderr.

import assert from 'node:assert/strict';
import { join } from 'node:path';
import { after, before, describe, it } from 'node:test';

import { EmptyResultSchema } from '@modelcontextprotocol/sdk/types.js';
import { AjvJsonSchemaValidator } from '@modelcontextprotocol/sdk/validation/ajv';

import {
  Scratch,
  assertRpcError,
  assertToolError,
  call,
  connect,
  idPattern,
  mcpConfigPath,
  timestampPattern,
  writeMcpConfig,
} from './harness.js';

const vaultDescription = 'Library label, id, or absolute path. Absent \u2192 MCP/settings default vault.';
const vault = { type: 'string', description: vaultDescription };
const metas = { type: 'object', additionalProperties: { type: 'string' } };
const idOnly = { type: 'object', properties: { id: { type: 'string' }, vault }, required: ['id'] };

const catalogue = [
  {
    name: 'search_notes',
    description: 'Search Brask Tolvane vault notes (FTS + tags + meta filters).',
    inputSchema: {
      type: 'object',
      properties: { limit: { type: 'integer' }, query: { type: 'string' }, vault },
      required: ['query'],
    },
    accepts: [{ query: '' }, { query: 'x #t meta:k=v', limit: -3, vault: 'v' }],
    rejects: [{}, { query: 1 }, { query: 'x', limit: 1.5 }],
  },
  {
    name: 'list_notes',
    description: 'List note summaries, optionally filtered by folder and/or tag.',
    inputSchema: {
      type: 'object',
      properties: {
        folder: { type: 'string', description: 'Folder path under notes/ (empty string = vault root)' },
        limit: { type: 'integer' },
        tag: { type: 'string' },
        vault,
      },
    },
    accepts: [{}, { folder: 'a/b', tag: 't', limit: 0, vault: '/v' }],
    rejects: [{ limit: '5' }, { folder: 3 }],
  },
  {
    name: 'get_note',
    description: 'Load a note by id from the vault.',
    inputSchema: idOnly,
    accepts: [{ id: 'x' }, { id: 'x', vault: 'v' }],
    rejects: [{}, { id: 5 }, { id: 'x', vault: 2 }],
  },
  {
    name: 'list_backlinks',
    description: 'List notes linking to the given note id.',
    inputSchema: idOnly,
    accepts: [{ id: 'x' }],
    rejects: [{}, { id: null }],
  },
  {
    name: 'upsert_note',
    description: 'Create or update a note in the vault (agents write path).',
    inputSchema: {
      type: 'object',
      properties: {
        body: { type: 'string' },
        id: { type: 'string' },
        metas,
        title: { type: 'string' },
        vault,
        workspace_id: { type: 'string' },
      },
      required: ['title', 'body'],
    },
    accepts: [{ title: 't', body: 'b' }, { title: 't', body: 'b', id: 'i', metas: { a: 'b' }, workspace_id: 'w' }],
    rejects: [{ title: 't' }, { body: 'b' }, { title: 't', body: 'b', metas: { a: 1 } }],
  },
  {
    name: 'set_metas',
    description: 'Merge or replace frontmatter metas on a note without rewriting body/title.',
    inputSchema: {
      type: 'object',
      properties: {
        id: { type: 'string' },
        metas,
        replace: { type: 'boolean', description: 'If true, replace metas wholesale (default false = merge)' },
        vault,
      },
      required: ['id', 'metas'],
    },
    accepts: [{ id: 'i', metas: {} }, { id: 'i', metas: { a: 'b' }, replace: true }],
    rejects: [{ id: 'i' }, { id: 'i', metas: {}, replace: 'true' }, { id: 'i', metas: [] }],
  },
  {
    name: 'move_note',
    description: 'Move a note into a folder under notes/ (empty folder = vault root).',
    inputSchema: {
      type: 'object',
      properties: { folder: { type: 'string' }, id: { type: 'string' }, vault },
      required: ['id', 'folder'],
    },
    accepts: [{ id: 'i', folder: '' }],
    rejects: [{ id: 'i' }, { folder: 'f' }],
  },
  {
    name: 'delete_note',
    description: 'Delete a note by id from the vault.',
    inputSchema: idOnly,
    accepts: [{ id: 'x' }],
    rejects: [{}],
  },
];

describe('handshake and catalogue', () => {
  const scratch = new Scratch();
  let session;

  before(async () => {
    session = await connect({ HOME: scratch.home('home', { enabled: true }) }, { roots: { listChanged: true } });
  });
  after(async () => {
    await session?.close();
    scratch.cleanup();
  });

  it('initializes on protocol version 2024-11-05', () => {
    assert.equal(session.protocolVersion(), '2024-11-05');
    assert.deepEqual(session.client.getServerVersion(), { name: 'brask-tolvane-mcp', version: '0.1.0' });
    assert.deepEqual(session.client.getServerCapabilities(), { tools: {} });
  });

  it('answers ping', async () => {
    assert.deepEqual(await session.client.ping(), {});
  });

  it('answers no notification, so the client sees no error', async () => {
    const errors = [];
    const previous = session.client.onerror;
    session.client.onerror = (error) => errors.push(String(error));
    try {
      await session.client.notification({ method: 'notifications/cancelled', params: { requestId: 99, reason: 'stopped' } });
      await session.client.sendRootsListChanged();
      // Lines are answered in order: anything written for the notifications
      // would reach the client before this answer.
      assert.deepEqual(await session.client.ping(), {});
    } finally {
      session.client.onerror = previous;
    }
    assert.deepEqual(errors, []);
  });

  it('answers an unknown method with method not found', async () => {
    await assertRpcError(session.client.request({ method: 'resources/list' }, EmptyResultSchema), -32601, 'method not found');
  });

  it('lists the eight tools with the schemas the SDK accepts', async () => {
    const listed = await session.client.listTools();
    assert.equal(listed.nextCursor, undefined);
    assert.deepEqual(
      listed.tools.map((t) => t.name),
      catalogue.map((t) => t.name),
    );
    const validators = new AjvJsonSchemaValidator();
    for (const [index, want] of catalogue.entries()) {
      const tool = listed.tools[index];
      // Compiling first lets the SDK's own validator report a broken schema.
      const validate = validators.getValidator(tool.inputSchema);
      assert.deepEqual(tool, { name: want.name, description: want.description, inputSchema: want.inputSchema });
      for (const args of want.accepts) {
        assert.ok(validate(args).valid, `${want.name} should accept ${JSON.stringify(args)}`);
      }
      for (const args of want.rejects) {
        assert.ok(!validate(args).valid, `${want.name} should reject ${JSON.stringify(args)}`);
      }
    }
  });

  it('writes nothing on stderr', async () => {
    assert.equal(await session.close(), '');
  });
});

describe('configuration', () => {
  const scratch = new Scratch();
  after(() => scratch.cleanup());

  it('refuses every call until mcp.json enables the server, then reads it afresh', async () => {
    const home = scratch.home('home');
    const root = scratch.vault('vault');
    const session = await connect({ HOME: home });
    let stderr;
    try {
      const disabled = `MCP server disabled. Set enabled:true in ${mcpConfigPath(home)}`;
      await assertToolError(session.client, 'list_notes', {}, disabled);
      await assertToolError(session.client, 'nope', {}, disabled);
      writeMcpConfig(home, { enabled: true, vault_path: root });
      assert.deepEqual(await call(session.client, 'list_notes', {}, ['notes']), { notes: [] });
    } finally {
      stderr = await session.close();
    }
    assert.equal(stderr, '');
  });
});

describe('tools', () => {
  const scratch = new Scratch();
  let session;
  let client;
  let root;
  let alpha;
  let beta;

  before(async () => {
    root = scratch.vault('vault');
    session = await connect({ HOME: scratch.home('home', { enabled: true }), BRASK_TOLVANE_VAULT: root });
    client = session.client;
  });
  after(async () => {
    await session?.close();
    scratch.cleanup();
  });

  it('upsert_note creates notes', async () => {
    const args = { title: 'Alpha', body: 'Gardening notes. #plants', metas: { status: 'draft', count: 3 } };
    const created = await call(client, 'upsert_note', args, ['created', 'id', 'title', 'updated']);
    assert.equal(created.created, true);
    assert.match(created.id, idPattern);
    assert.equal(created.title, 'Alpha');
    assert.match(created.updated, timestampPattern);
    alpha = created.id;

    const second = { title: 'Beta', body: 'More gardening, see [[Alpha]].' };
    beta = (await call(client, 'upsert_note', second, ['created', 'id', 'title', 'updated'])).id;
    assert.match(beta, idPattern);
    assert.notEqual(beta, alpha);
  });

  it('upsert_note updates a note named by id', async () => {
    const args = { id: alpha, title: 'Alpha', body: 'Gardening notes. #plants', metas: { status: 'draft' } };
    const updated = await call(client, 'upsert_note', args, ['created', 'id', 'title', 'updated']);
    assert.deepEqual({ created: updated.created, id: updated.id }, { created: false, id: alpha });
  });

  it('get_note returns title, body, tags and metas', async () => {
    const note = await call(client, 'get_note', { id: alpha }, ['body', 'id', 'metas', 'tags', 'title']);
    assert.equal(note.id, alpha);
    assert.equal(note.title, 'Alpha');
    assert.match(note.body, /Gardening notes\. #plants/);
    assert.deepEqual(note.metas, { status: 'draft' });
    assert.ok(Array.isArray(note.tags) && note.tags.every((t) => typeof t === 'string'));
  });

  it('list_notes lists summary rows', async () => {
    const { notes } = await call(client, 'list_notes', {}, ['notes']);
    assert.deepEqual(notes.map((n) => n.id).sort(), [alpha, beta].sort());
    for (const row of notes) {
      assert.deepEqual(Object.keys(row), ['id', 'path', 'tags', 'title', 'updated_at']);
      assert.equal(row.path, `notes/${row.id}.md`);
      assert.match(row.updated_at, timestampPattern);
    }
  });

  it('search_notes finds by word and lists with an empty query', async () => {
    const { notes } = await call(client, 'search_notes', { query: 'gardening' }, ['notes']);
    assert.deepEqual(notes.map((n) => n.id).sort(), [alpha, beta].sort());
    for (const row of notes) {
      assert.deepEqual(Object.keys(row), ['id', 'path', 'snippet', 'title', 'updated_at']);
      assert.ok(row.snippet === null || typeof row.snippet === 'string', `snippet ${row.snippet}`);
    }
    const all = await call(client, 'search_notes', {}, ['notes']);
    assert.equal(all.notes.length, 2);
  });

  it('list_backlinks gives [id, title] pairs', async () => {
    assert.deepEqual(await call(client, 'list_backlinks', { id: alpha }, ['backlinks']), {
      backlinks: [[beta, 'Beta']],
    });
    assert.deepEqual(await call(client, 'list_backlinks', { id: beta }, ['backlinks']), { backlinks: [] });
  });

  it('set_metas merges, or replaces when asked', async () => {
    const merged = await call(client, 'set_metas', { id: alpha, metas: { priority: 'high' } }, ['id', 'metas', 'updated']);
    assert.equal(merged.id, alpha);
    assert.deepEqual(merged.metas, { priority: 'high', status: 'draft' });
    assert.match(merged.updated, timestampPattern);
    const replaced = await call(client, 'set_metas', { id: alpha, metas: { only: 'x' }, replace: true }, [
      'id',
      'metas',
      'updated',
    ]);
    assert.deepEqual(replaced.metas, { only: 'x' });
  });

  it('move_note moves into a folder and reports the stored path', async () => {
    const moved = await call(client, 'move_note', { id: alpha, folder: 'projects/2024' }, ['folder', 'id', 'path']);
    assert.deepEqual(moved, { folder: 'projects/2024', id: alpha, path: `notes/projects/2024/${alpha}.md` });
    const { notes } = await call(client, 'list_notes', { folder: 'projects/2024' }, ['notes']);
    assert.deepEqual(
      notes.map((n) => n.id),
      [alpha],
    );
  });

  it('delete_note deletes, after which the note is not found', async () => {
    assert.deepEqual(await call(client, 'delete_note', { id: beta }, ['deleted', 'id']), { deleted: true, id: beta });
    await assertToolError(client, 'get_note', { id: beta }, `note not found: ${beta}`);
  });

  it('the vault argument selects another vault', async () => {
    const other = scratch.vault('other');
    const made = await call(client, 'upsert_note', { title: 'Elsewhere', body: 'x', vault: ` ${other} ` }, [
      'created',
      'id',
      'title',
      'updated',
    ]);
    const { notes } = await call(client, 'list_notes', { vault: other }, ['notes']);
    assert.deepEqual(
      notes.map((n) => n.id),
      [made.id],
    );
    const home = await call(client, 'list_notes', {}, ['notes']);
    assert.deepEqual(
      home.notes.map((n) => n.id),
      [alpha],
    );
  });

  it('failures arrive as JSON-RPC errors with the exact text', async () => {
    const notAVault = scratch.dir('plain');
    const missing = join(scratch.root, 'missing');
    const cases = [
      ['nope', {}, 'unknown tool: nope'],
      ['get_note', {}, 'id required'],
      ['get_note', { id: 7 }, 'id required'],
      ['get_note', { id: 'no-such-id' }, 'note not found: no-such-id'],
      ['list_backlinks', {}, 'id required'],
      ['upsert_note', { body: 'b' }, 'title required'],
      ['upsert_note', { title: 1, body: 'b' }, 'title required'],
      ['upsert_note', { title: 'T' }, 'body required'],
      ['upsert_note', { title: 'T', body: '   ' }, 'body is required'],
      ['set_metas', { metas: {} }, 'id required'],
      ['set_metas', { id: alpha }, 'metas object required'],
      ['set_metas', { id: alpha, metas: ['a'] }, 'metas object required'],
      ['move_note', { folder: 'x' }, 'id required'],
      ['move_note', { id: alpha }, 'folder required'],
      ['delete_note', {}, 'id required'],
      [
        'list_notes',
        { vault: ' nowhere ' },
        "Unknown vault 'nowhere'. Use a library label, id, or absolute path from Settings \u2192 Vaults.",
      ],
      ['list_notes', { vault: notAVault }, `Not a Brask Tolvane vault (missing .brask-tolvane/): ${notAVault}`],
      [
        'get_note',
        { vault: missing },
        `Vault path does not exist: ${missing}. Set vault arg, BRASK_TOLVANE_VAULT, mcp.json vault_path, or settings.json vault_path.`,
      ],
    ];
    const failures = [];
    for (const [name, args, text] of cases) {
      await assertToolError(client, name, args, text).catch((error) => failures.push(error.message));
    }
    assert.deepEqual(failures, []);
  });

  it('writes nothing on stderr', async () => {
    assert.equal(await session.close(), '');
  });
});

// Started with --protocol, the server agrees on the SDK's own newest
// version, and the SDK checks every structured result against the output
// schema its tool declared (a mismatch fails the call).
describe('with --protocol 2025-11-25', () => {
  const scratch = new Scratch();
  let session;
  let client;

  before(async () => {
    const root = scratch.vault('vault');
    const env = { HOME: scratch.home('home', { enabled: true }), BRASK_TOLVANE_VAULT: root };
    session = await connect(env, {}, ['--protocol', '2025-11-25']);
    client = session.client;
  });
  after(async () => {
    await session?.close();
    scratch.cleanup();
  });

  it('negotiates 2025-11-25 and says what it is and how to use it', () => {
    assert.equal(session.protocolVersion(), '2025-11-25');
    const info = session.client.getServerVersion();
    assert.deepEqual([info.name, info.version, info.title], ['brask-tolvane-mcp', '0.1.0', 'Brask Tolvane notes']);
    assert.match(info.description, /Markdown notes/);
    assert.match(client.getInstructions(), /#tag/);
  });

  it('annotates every tool and gives it a title and an output schema', async () => {
    const { tools } = await client.listTools();
    const hints = Object.fromEntries(tools.map((t) => [t.name, t.annotations]));
    for (const name of ['search_notes', 'list_notes', 'get_note', 'list_backlinks']) {
      assert.deepEqual(hints[name], { destructiveHint: false, idempotentHint: true, openWorldHint: false, readOnlyHint: true });
    }
    assert.deepEqual(hints.upsert_note, { destructiveHint: true, idempotentHint: false, openWorldHint: false, readOnlyHint: false });
    assert.deepEqual(hints.set_metas, { destructiveHint: true, idempotentHint: true, openWorldHint: false, readOnlyHint: false });
    assert.deepEqual(hints.move_note, { destructiveHint: false, idempotentHint: true, openWorldHint: false, readOnlyHint: false });
    assert.deepEqual(hints.delete_note, { destructiveHint: true, idempotentHint: true, openWorldHint: false, readOnlyHint: false });
    for (const tool of tools) {
      assert.equal(typeof tool.title, 'string', tool.name);
      assert.equal(tool.outputSchema.type, 'object', tool.name);
    }
  });

  it('calls all eight tools, each with structured content the SDK has checked', async () => {
    await client.listTools(); // the SDK takes each tool's output schema from the listing
    const structured = async (name, args) => {
      const result = await client.callTool({ name, arguments: args });
      assert.equal(result.isError, undefined, name);
      assert.deepEqual(JSON.parse(result.content[0].text), result.structuredContent, name);
      return result.structuredContent;
    };
    const alpha = (await structured('upsert_note', { title: 'Alpha', body: 'Seeds. #plants', metas: { k: 'v' } })).id;
    const beta = (await structured('upsert_note', { title: 'Beta', body: 'See [[Alpha]].' })).id;
    assert.equal((await structured('search_notes', { query: 'seeds' })).notes[0].id, alpha);
    assert.equal((await structured('search_notes', { query: '' })).notes.length, 2);
    assert.equal((await structured('list_notes', {})).notes.length, 2);
    assert.deepEqual((await structured('get_note', { id: alpha })).metas, { k: 'v' });
    assert.deepEqual(await structured('list_backlinks', { id: alpha }), { backlinks: [[beta, 'Beta']] });
    assert.deepEqual((await structured('set_metas', { id: alpha, metas: { n: '1' } })).metas, { k: 'v', n: '1' });
    assert.equal((await structured('move_note', { id: alpha, folder: 'p' })).folder, 'p');
    assert.deepEqual(await structured('delete_note', { id: beta }), { deleted: true, id: beta });
  });

  it('answers a failed call as a result with isError, an unknown tool as an error', async () => {
    const failed = await client.callTool({ name: 'get_note', arguments: { id: 'nothing' } });
    assert.deepEqual(failed, { content: [{ type: 'text', text: 'note not found: nothing' }], isError: true });
    await assertRpcError(client.callTool({ name: 'nope', arguments: {} }), -32000, 'unknown tool: nope');
  });

  it('writes nothing on stderr', async () => {
    assert.equal(await session.close(), '');
  });
});

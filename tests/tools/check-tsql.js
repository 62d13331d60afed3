#!/usr/bin/env node
// Parses generated T-SQL texts with node-sql-parser (transactsql dialect) and reports each batch:
//   accepted  <name> <batch>                 the parser took it as written
//   gaps      <name> <batch> <gap; gap...>   it took it once constructs that T-SQL has but this parser
//                                            lacks were rewritten to ones it knows (listed)
//   refused   <name> <batch> <message>       it refused it even then
// Input: a JSON file holding [{"name": ..., "text": ...}, ...]; batches are split on GO lines, and
// sqlcmd lines (":r ...", ":on error ...") are left out. Exit 2 when the parser module is missing.
'use strict';
const fs = require('fs');

let Parser;
try {
  ({ Parser } = require('node-sql-parser'));
} catch (e) {
  console.log('MISSING node-sql-parser');
  process.exit(2);
}
const parser = new Parser();

function parseError(sql) {
  try {
    parser.astify(sql, { database: 'transactsql' });
    return null;
  } catch (e) {
    return String(e && e.message ? e.message : e);
  }
}

// Cuts a text into quoted strings, bracketed names and the rest, so that rewrites touch only the rest.
function segments(sql) {
  const out = [];
  let i = 0, start = 0;
  const push = (kind, end) => { if (end > start) out.push({ kind, text: sql.slice(start, end) }); start = end; };
  while (i < sql.length) {
    const c = sql[i];
    if (c === "'" || c === '[') {
      push('other', i);
      const close = c === "'" ? "'" : ']';
      i++;
      while (i < sql.length) {
        if (sql[i] === close) {
          if (sql[i + 1] === close) { i += 2; continue; }
          i++;
          break;
        }
        i++;
      }
      push(c === "'" ? 'string' : 'bracket', i);
    } else {
      i++;
    }
  }
  push('other', sql.length);
  return out;
}
const inOther = (sql, fn) => segments(sql).map(s => (s.kind === 'other' ? fn(s.text) : s.text)).join('');

// T-SQL that the server takes but this parser does not, each with a rewrite into a form it knows.
const NAME = "(?:\\[(?:[^\\]]|\\]\\])*\\]|[A-Za-z_][\\w@$#]*)";
const LIST = "\\s*" + NAME + "(?:\\s+desc)?(?:\\s*,\\s*" + NAME + "(?:\\s+desc)?)*\\s*";
const gaps = [
  ['OPENROWSET(BULK) value', s => s.replace(/\(Select \* from OPENROWSET\(BULK N'(?:[^']|'')*',SINGLE_BLOB\) as Image\)/g, '0x00')],
  ['SET IDENTITY_INSERT', s => s.replace(new RegExp('SET\\s+IDENTITY_INSERT\\s+' + NAME + '\\s+(?:ON|OFF)\\b', 'gi'), 'SELECT 1')],
  ['ALTER DATABASE MODIFY FILE', s => s.replace(new RegExp("ALTER DATABASE " + NAME +
      " MODIFY FILE\\s*\\(\\s*NAME = N'(?:[^']|'')*'(?:\\s*,\\s*\\w+\\s*=\\s*[\\w%]+)*\\s*\\)", 'g'), 'SELECT 1')],
  ['backslash in a string (no escape in T-SQL)', s => segments(s).map(x => (x.kind === 'string' ? x.text.replace(/\\/g, '/') : x.text)).join('')],
  ['FOREIGN KEY constraint', s => s.replace(new RegExp('foreign key\\s*\\((' + LIST + ')\\)\\s*references\\s+' + NAME + '\\s*\\(' + LIST +
      '\\)(?:\\s+on\\s+(?:update|delete)\\s+cascade)*', 'gi'), 'unique ($1)')],
  ['stored module definition', s => s.replace(/^(?:\s|--[^\n]*\n|\/\*[\s\S]*?\*\/)*(?:create|alter)\s+(?:proc|procedure|function|view|trigger)\b[\s\S]*$/i, 'SELECT 1')],
  ['"]]" in a bracketed name', s => segments(s).map(x => (x.kind === 'bracket' ? '[' + x.text.slice(1, -1).replace(/\]\]/g, '_') + ']' : x.text)).join('')],
  ['sqlcmd variable', s => inOther(s, t => t.replace(/\$\((\w+)\)/g, 'sqlcmd_$1'))],
  ['SPARSE', s => inOther(s, t => t.replace(/\s+SPARSE\b/gi, ''))],
  ['ROWGUIDCOL', s => inOther(s, t => t.replace(/\s+ROWGUIDCOL\b/gi, ''))],
  ['xml/sql_variant/image/CLR type', s => inOther(s, t => t.replace(/^(\s+)(xml|geography|geometry|hierarchyid|sql_variant|image)\b/i, '$1varbinary(max)'))],
  ['CAST to a CLR or variant type', s => inOther(s, t => t.replace(/\bAS\s+(geography|geometry|hierarchyid|sql_variant)\)/gi, 'AS varbinary(max))'))],
  ['DROP DATABASE', s => inOther(s, t => t.replace(/\bDROP\s+DATABASE\b/gi, 'DROP TABLE'))],
  ['statements without ";"', s => inOther(s, t => t.replace(/(\n\s*)(insert|use|print|set|create|alter|if)\b/gi, ';$1$2')).replace(/^\s*;/, '')],
];

function check(text) {
  const results = [];
  const batches = text.split(/^[ \t]*GO[ \t\r]*$/gim);
  batches.forEach((raw, index) => {
    const batch = raw.split('\n').filter(line => !/^\s*(:r\s|:on\s+error\s)/i.test(line)).join('\n');
    if (!batch.trim()) return;
    const first = parseError(batch);
    if (!first) return results.push(['accepted', index]);
    let sql = batch;
    const used = [];
    for (const [name, rewrite] of gaps) {
      const next = rewrite(sql);
      if (next !== sql) { used.push(name); sql = next; }
    }
    const second = used.length ? parseError(sql) : first;
    if (!second) return results.push(['gaps', index, used.join('; ')]);
    results.push(['refused', index, (second + ' | batch: ' + batch).slice(0, 600)]);
  });
  return results;
}

const items = JSON.parse(fs.readFileSync(process.argv[2], 'utf8'));
for (const item of items)
  for (const r of check(item.text))
    console.log([r[0], item.name, ...r.slice(1)].map(x => String(x).replace(/[\t\r\n]+/g, ' ')).join('\t'));

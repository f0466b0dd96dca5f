// SPDX-License-Identifier: MIT
// Writes a script without its comments and the blanks the language does not need, for the
// package's size: the source keeps them. Tokens are copied as written (strings and regular
// expressions unchanged). Between two tokens goes a line break only where the source has
// one that the language could read as a statement's end, a space where two words would
// join, else nothing. The element's markup and style (the template with a <style>) lose the
// blanks around braces, semicolons, commas, colons and tags.
//
// The element's own members (an underscore and a small letter; nothing outside the file
// uses them) get short names, `_0`, `_1` and on, which none of them can have; the core's
// exports (`_Web...`) keep theirs. So do its constants (capitals, given a value here), as
// `$0`, `$1` and on, unless the name is ever also a property's or a key's: an interface's
// names (MEDIA_ERR_...) keep theirs.
//
// Uses the JavaScript parser that Debian's emscripten depends on.
//
// usage: node web/pack.cjs FILE > OUT
'use strict';
const fs = require('fs');
const acorn = require('acorn');

const source = fs.readFileSync(process.argv[2], 'utf8');
const word = /[\w$\u0080-\uffff]/;
// A line break the language reads as a statement's end must stay: after the words that end
// a statement at a line break, and before what would continue the line before.
function asiMatters(previous, next) {
  return /^(return|break|continue|throw|yield|\+\+|--)$/.test(previous) ||
         /^[([`+\-/]/.test(next) || next === '++' || next === '--';
}

const tokens = [...acorn.tokenizer(source, { ecmaVersion: 'latest', sourceType: 'module' })];
const textOf = (token) => token ? source.slice(token.start, token.end) : '';

// Constants: a capitals name given a value (`NAME =`), never after a dot, never before a
// colon (a key, or a conditional's, which is left alone to be sure) and never alone between
// braces or commas (a shorthand key).
function constantNames() {
  const given = new Set(), kept = new Set();
  tokens.forEach((token, i) => {
    const text = textOf(token);
    if (token.type.label !== 'name' || !/^[A-Z][A-Z0-9_]{3,}$/.test(text)) return;
    const before = textOf(tokens[i - 1]), after = textOf(tokens[i + 1]);
    if (after === '=') given.add(text);
    if (before === '.' || after === ':' || (/^[{,]$/.test(before) && /^[},]$/.test(after)))
      kept.add(text);
  });
  return new Map([...given].filter((name) => !kept.has(name)).map((name, n) => [name, '$' + n]));
}
const constants = constantNames();

const shortNames = new Map();
function compactMarkup(token, text) {
  if (token.type.label !== 'template' || !text.includes('<style>')) return text;
  return text.replace(/\s*([{};,])\s*/g, '$1').replace(/:\s+/g, ':')
             .replace(/>\s+</g, '><');
}

function shortName(token, text) {
  if (token.type.label === 'name' && constants.has(text)) return constants.get(text);
  if (token.type.label !== 'name' || !/^_[a-z]\w{2,}$/.test(text)) return text;
  if (!shortNames.has(text)) shortNames.set(text, '_' + shortNames.size);
  return shortNames.get(text);
}

let out = '';
let last = null;
let previous = '';
for (const token of tokens) {
  const text = compactMarkup(token, shortName(token, source.slice(token.start, token.end)));
  if (last !== null && token.start > last) {
    const gap = source.slice(last, token.start);
    const joins = word.test(out[out.length - 1]) && word.test(text[0]);
    if (/[\n\r\u2028\u2029]/.test(gap) && (joins || asiMatters(previous, text))) out += '\n';
    else if (joins || (/[+-]$/.test(out) && /^[+-]/.test(text))) out += ' ';
  }
  out += text;
  last = token.end;
  previous = text;
}
process.stdout.write(out + '\n');

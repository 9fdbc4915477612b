// The page's figure for scripts/bench: moravelt.html opened from disk in headless chromium
// until a card's list of saves shows, beside the page reading that card's file alone.
// Prints "page_first_list MS" and "page_read_card_file MS", medians of five rounds.
// Run: node tests/web/bench.mjs build/web/moravelt.html (after scripts/web and scripts/setup).
import { spawnSync } from 'node:child_process';
import { existsSync, mkdtempSync, readdirSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { dirname, join, resolve } from 'node:path';
import { fileURLToPath, pathToFileURL } from 'node:url';
import { chromium } from 'playwright-core';

const root = resolve(dirname(fileURLToPath(import.meta.url)), '../..');
const html = resolve(process.argv[2] || join(root, 'build/web/moravelt.html'));
const cli = process.env.MORAVELT_CLI || join(root, 'build/release/src/cli/moravelt-cli');
const corpus = resolve(root, '../shared/corpus');
const rounds = 5;

// An 8 MiB card with ECC holding the shipped sample and every PS2 save of the corpus.
function makeCard() {
  const card = join(mkdtempSync(join(tmpdir(), 'moravelt-page-bench-')), 'full.ps2');
  const ok = (r) => { if (r.status !== 0) throw new Error(r.stderr); };
  ok(spawnSync(cli, ['card', 'format', card], { encoding: 'utf8' }));
  const saves = [join(root, 'samples/demo.psu')];
  for (const family of ['psu', 'max', 'xps', 'cbs', 'sps']) {
    const dir = join(corpus, family);
    if (existsSync(dir)) for (const f of readdirSync(dir)) saves.push(join(dir, f));
  }
  for (const save of saves) spawnSync(cli, ['card', 'import', card, save], { encoding: 'utf8' });
  return card;
}

const median = (xs) => xs.sort((a, b) => a - b)[Math.floor(xs.length / 2)];

const card = makeCard();
const browser = await chromium.launchPersistentContext(mkdtempSync(join(tmpdir(), 'moravelt-chromium-')), {
  executablePath: process.env.CHROMIUM || '/usr/bin/chromium',
  headless: true,
  args: ['--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run', '--disable-background-networking',
    '--disable-component-update', '--disable-sync'],
});
const toList = [];
const toRead = [];
for (let i = 0; i < rounds; ++i) {
  const page = await browser.newPage();
  const start = Date.now();
  await page.goto(pathToFileURL(html).href);
  await page.waitForSelector('body[data-ready=true]', { timeout: 60000 });
  await page.setInputFiles('#open', card);
  await page.waitForSelector('table.saves tbody tr[data-folder]', { timeout: 60000 });
  toList.push(Date.now() - start);
  // The same file read by the page alone, through an input of its own.
  await page.evaluate(() => {
    const input = document.createElement('input');
    input.type = 'file';
    input.id = 'bench-read';
    input.hidden = true;
    document.body.append(input);
  });
  await page.setInputFiles('#bench-read', card);
  toRead.push(await page.evaluate(async () => {
    const t = performance.now();
    const bytes = await document.getElementById('bench-read').files[0].arrayBuffer();
    if (bytes.byteLength === 0) throw new Error('nothing read');
    return performance.now() - t;
  }));
  await page.close();
}
await browser.close();
console.log(`page_first_list ${median(toList)}`);
console.log(`page_read_card_file ${median(toRead).toFixed(3)}`);

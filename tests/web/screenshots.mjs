// The page's screenshots in docs/ (screenshot-web-light.png, -dark.png, -cards.png), taken
// in headless chromium at a Steam Deck's 1280 x 800: a card, in the light and the dark
// scheme, and two cards side by side. Uses the corpus's cards when ../shared/corpus is
// there, else cards made by New Card... with the sample save imported.
// Usage: node tests/web/screenshots.mjs [DOCS]   (after scripts/web)
import { existsSync, mkdtempSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { dirname, join, resolve } from 'node:path';
import { fileURLToPath, pathToFileURL } from 'node:url';
import { chromium } from 'playwright-core';

const root = resolve(dirname(fileURLToPath(import.meta.url)), '../..');
const docs = resolve(process.argv[2] || join(root, 'docs'));
const corpus = resolve(root, '../shared/corpus');
const inCorpus = (p) => (existsSync(join(corpus, p)) ? join(corpus, p) : null);
const first = inCorpus('card/a.ps2');
const second = inCorpus('ps1card/j.vgs');

// A fresh profile (playwright passes it as --user-data-dir).
const browser = await chromium.launchPersistentContext(mkdtempSync(join(tmpdir(), 'moravelt-chromium-')), {
  executablePath: process.env.CHROMIUM || '/usr/bin/chromium',
  headless: true,
  viewport: { width: 1280, height: 800 },
  reducedMotion: 'reduce',
  args: ['--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run', '--disable-background-networking',
    '--disable-component-update', '--disable-sync'],
});

async function shot(scheme, cards, name) {
  const page = await browser.newPage();
  await page.emulateMedia({ colorScheme: scheme, reducedMotion: 'reduce' });
  await page.goto(pathToFileURL(join(root, 'build/web/moravelt.html')).href);
  await page.waitForSelector('body[data-ready=true]');
  for (const card of cards) {
    if (card) {
      await page.setInputFiles('#open', card);
    } else {
      await page.getByRole('button', { name: 'New Card...' }).click();
      await page.locator('dialog[open] .buttons button').first().click();
    }
    const panel = page.locator('section.doc').last();
    await panel.waitFor();
    if (!card) {
      const [chooser] = await Promise.all([page.waitForEvent('filechooser'), panel.locator('[data-act="import"]').click()]);
      await chooser.setFiles(join(root, 'samples/demo.psu'));
    }
    await panel.locator('tr[data-folder] input[type=checkbox]').last().check();
  }
  await page.waitForTimeout(800);
  await page.screenshot({ path: join(docs, name) });
  await page.close();
  console.log(join(docs, name));
}

await shot('light', [first], 'screenshot-web-light.png');
await shot('dark', [first], 'screenshot-web-dark.png');
await shot('light', [first, second ?? null], 'screenshot-web-cards.png');
await browser.close();

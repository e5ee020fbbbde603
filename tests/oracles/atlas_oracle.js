// Reads the data files the tool writes with the engines' own parsers
// (Phaser 3's atlas parsers, PixiJS's Spritesheet, the Spine runtime's
// TextureAtlas for the libGDX text) and checks that every frame they report
// is the rectangle "patterns.xml" gives for it.
//
//   node atlas_oracle.js /path/to/glumixer
//
// Exit status 0: all agree; 1: a mismatch (printed); 77: the parsers are not
// installed (npm ci in tests/oracles), so the test is skipped.
'use strict';

const fs = require('fs');
const os = require('os');
const path = require('path');
const zlib = require('zlib');
const { spawnSync } = require('child_process');

const modules = path.join(__dirname, 'node_modules');
if (!fs.existsSync(path.join(modules, 'phaser')) || !fs.existsSync(path.join(modules, 'pixi.js')) ||
    !fs.existsSync(path.join(modules, '@esotericsoftware/spine-core'))) {
    console.log('atlas parsers not installed (npm ci in tests/oracles): skipped');
    process.exit(77);
}
const phaser = (m) => require(path.join(modules, 'phaser/src', m));
const PhaserFrame = phaser('textures/Frame');
const PhaserJSONHash = phaser('textures/parsers/JSONHash');
const PhaserJSONArray = phaser('textures/parsers/JSONArray');
const PhaserSpriteSheet = phaser('textures/parsers/SpriteSheet');
const PIXI = require(path.join(modules, 'pixi.js'));
const spine = require(path.join(modules, '@esotericsoftware/spine-core'));

const tool = process.argv[2];
let failures = 0;
function check(ok, what) {
    if (!ok) {
        failures++;
        console.log('MISMATCH: ' + what);
    }
}

// ---- pictures ----------------------------------------------------------
function bmp(w, h, seed) {
    const stride = (w * 3 + 3) & ~3;
    const buf = Buffer.alloc(54 + stride * h);
    buf.write('BM', 0);
    buf.writeUInt32LE(buf.length, 2);
    buf.writeUInt32LE(54, 10);
    buf.writeUInt32LE(40, 14);
    buf.writeInt32LE(w, 18);
    buf.writeInt32LE(h, 22);
    buf.writeUInt16LE(1, 26);
    buf.writeUInt16LE(24, 28);
    buf.writeUInt32LE(stride * h, 34);
    for (let i = 54; i < buf.length; i++) buf[i] = (i * 31 + seed * 17) & 0xff;
    return buf;
}

const crcTable = Array.from({ length: 256 }, (_, n) => {
    let c = n;
    for (let k = 0; k < 8; k++) c = c & 1 ? 0xedb88320 ^ (c >>> 1) : c >>> 1;
    return c >>> 0;
});
function crc32(bytes) {
    let c = 0xffffffff;
    for (const b of bytes) c = crcTable[(c ^ b) & 0xff] ^ (c >>> 8);
    return (c ^ 0xffffffff) >>> 0;
}
function chunk(type, data) {
    const len = Buffer.alloc(4);
    len.writeUInt32BE(data.length);
    const body = Buffer.concat([Buffer.from(type, 'latin1'), data]);
    const crc = Buffer.alloc(4);
    crc.writeUInt32BE(crc32(body));
    return Buffer.concat([len, body, crc]);
}
function png(w, h, seed) {
    const ihdr = Buffer.alloc(13);
    ihdr.writeUInt32BE(w, 0);
    ihdr.writeUInt32BE(h, 4);
    ihdr[8] = 8;
    ihdr[9] = 6;
    const raw = Buffer.alloc((w * 4 + 1) * h);
    for (let i = 0; i < raw.length; i++) raw[i] = i % (w * 4 + 1) === 0 ? 0 : (i * 13 + seed) & 0xff;
    return Buffer.concat([Buffer.from([0x89, 0x50, 0x4e, 0x47, 0x0d, 0x0a, 0x1a, 0x0a]), chunk('IHDR', ihdr),
                          chunk('IDAT', zlib.deflateSync(raw)), chunk('IEND', Buffer.alloc(0))]);
}

// ---- what the tool says ------------------------------------------------
function unescapeXml(s) {
    return s.replace(/&quot;/g, '"').replace(/&lt;/g, '<').replace(/&gt;/g, '>').replace(/&amp;/g, '&');
}
function patterns(file) {
    const re = /<pattern name="(.*?)" x="(-?\d+)" y="(-?\d+)" width="(\d+)" height="(\d+)"/g;
    const out = new Map();
    for (const m of fs.readFileSync(file, 'latin1').matchAll(re))
        out.set(unescapeXml(m[1]), { x: +m[2], y: +m[3], w: +m[4], h: +m[5] });
    return out;
}
function same(a, b) { return a.x === b.x && a.y === b.y && a.w === b.w && a.h === b.h; }
function compareAll(expected, got, what) {
    check(got.size === expected.size, `${what}: ${got.size} frames, patterns.xml has ${expected.size}`);
    for (const [name, rect] of expected) {
        const g = got.get(name);
        check(g && same(g, rect), `${what}: frame "${name}" is ${JSON.stringify(g)}, expected ${JSON.stringify(rect)}`);
    }
}

// ---- the engines' parsers ----------------------------------------------
function phaserTexture(pages) {
    return {
        source: pages.map((p) => ({ width: p.size.w, height: p.size.h, glTexture: null, isRenderTexture: false })),
        frames: {},
        customData: {},
        frameTotal: 0,
        add(name, sourceIndex, x, y, w, h) {
            if (this.frames[name]) return null;
            const f = new PhaserFrame(this, name, sourceIndex, x, y, w, h);
            this.frames[name] = f;
            this.frameTotal++;
            return f;
        },
    };
}
function phaserFrames(texture) {
    const got = new Map();
    for (const [name, f] of Object.entries(texture.frames)) {
        if (name === '__BASE') continue;
        got.set(name, { x: f.cutX, y: f.cutY, w: f.cutWidth, h: f.cutHeight });
    }
    return got;
}
// The pages of a JSON atlas: one, or the textures of the multi-atlas form.
function pagesOf(json) {
    if (json.textures) return json.textures.map((t) => ({ size: t.size, image: t.image, json: t }));
    return [{ size: json.meta.size, image: json.meta.image, json }];
}

function checkPhaser(json, expected, what) {
    const pages = pagesOf(json);
    const texture = phaserTexture(pages);
    pages.forEach((p, i) => {
        const parse = Array.isArray(p.json.frames) ? PhaserJSONArray : PhaserJSONHash;
        parse(texture, i, p.json);
    });
    compareAll(expected, phaserFrames(texture), what + ' (Phaser)');
    if (json.meta && json.meta.frameWidth) {
        // Loaders that cut by frame size must find the same cells.
        const sheet = phaserTexture(pages);
        PhaserSpriteSheet(sheet, 0, 0, 0, pages[0].size.w, pages[0].size.h, {
            frameWidth: json.meta.frameWidth, frameHeight: json.meta.frameHeight,
            margin: json.meta.margin, spacing: json.meta.spacing,
        });
        const cells = [...phaserFrames(sheet).values()];
        for (const [name, rect] of expected)
            check(cells.some((c) => c.x <= rect.x && c.y <= rect.y && rect.x + rect.w <= c.x + c.w &&
                                    rect.y + rect.h <= c.y + c.h),
                  `${what} (Phaser sprite sheet): no cell holds "${name}"`);
    }
}

// PixiJS reads the hash form (frames keyed by name) only.
async function checkPixi(json, expected, what) {
    if (json.textures || Array.isArray(json.frames)) return;
    const got = new Map();
    for (const page of pagesOf(json)) {
        const source = new PIXI.TextureSource({ width: page.size.w, height: page.size.h, resolution: 1 });
        const data = page.json.meta ? page.json : { ...page.json, meta: { scale: page.json.scale, size: page.size } };
        const sheet = new PIXI.Spritesheet(new PIXI.Texture({ source }), data);
        await sheet.parse();
        for (const [name, t] of Object.entries(sheet.textures))
            got.set(name, { x: t.frame.x, y: t.frame.y, w: t.frame.width, h: t.frame.height });
        if (json.animations)
            for (const [anim, names] of Object.entries(json.animations)) {
                if (!sheet.animations[anim]) continue;
                check(sheet.animations[anim].length === names.length, `${what} (PixiJS): animation ${anim}`);
            }
    }
    compareAll(expected, got, what + ' (PixiJS)');
}

function checkSpine(text, expected, what, imageName) {
    const atlas = new spine.TextureAtlas(text);
    const got = new Map();
    for (const r of atlas.regions) {
        got.set(r.name, { x: r.x, y: r.y, w: r.width, h: r.height });
        check(r.originalWidth >= r.width && r.originalHeight >= r.height, `${what} (Spine): orig of ${r.name}`);
    }
    check(atlas.pages.length >= 1 && atlas.pages[0].name === imageName, `${what} (Spine): page ${atlas.pages[0]?.name}`);
    compareAll(expected, got, what + ' (Spine)');
}

function checkGodot(json, expected, what) {
    const got = new Map();
    for (const t of json.textures)
        for (const s of t.sprites) got.set(s.filename, { x: s.region.x, y: s.region.y, w: s.region.w, h: s.region.h });
    compareAll(expected, got, what + ' (Godot sheet)');
}

// ---- the runs ----------------------------------------------------------
async function runCase(label, files, options, layout, sheet, dataFiles) {
    const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'glx_oracle_'));
    try {
        for (const [name, bytes] of Object.entries(files)) fs.writeFileSync(path.join(dir, name), bytes);
        const first = path.join(dir, Object.keys(files)[0]);
        const r = spawnSync(tool, [...options, first, layout, sheet], { cwd: dir, input: '', encoding: 'latin1' });
        check(r.status === 0, `${label}: exit ${r.status} ${r.stderr}`);
        if (r.status !== 0) return;
        const expected = patterns(path.join(dir, 'patterns.xml'));
        check(expected.size === Object.keys(files).length, `${label}: patterns.xml lists ${expected.size}`);
        for (const file of dataFiles) {
            const full = path.join(dir, file);
            check(fs.existsSync(full), `${label}: ${file} written`);
            if (!fs.existsSync(full)) continue;
            const text = fs.readFileSync(full, 'utf8');
            const what = `${label} ${file}`;
            if (file.endsWith('.atlas')) checkSpine(text, expected, what, sheet);
            else if (file.endsWith('.tpsheet')) checkGodot(JSON.parse(text), expected, what);
            else {
                const json = JSON.parse(text);
                checkPhaser(json, expected, what);
                await checkPixi(json, expected, what);
            }
        }
    } finally {
        fs.rmSync(dir, { recursive: true, force: true });
    }
}

(async () => {
    // An RGBA sheet in rows of three, pictures of every size, names with
    // blanks and quotes, frames named by file, animations.
    const rgba = {};
    const sizes = [[5, 7], [12, 3], [1, 1], [9, 9], [4, 11], [16, 2], [3, 3]];
    sizes.forEach(([w, h], i) => {
        rgba[`walk_${i * 3}.png`] = png(w, h, i);
    });
    rgba['hero "big" 1.bmp'] = bmp(6, 5, 1);
    rgba['tree & rock.bmp'] = bmp(7, 2, 2);
    await runCase('rgba', rgba, ['--atlas=json,json-array,libgdx,godot', '--names=file', '--animations', '--sort=natural'],
                  'H3', 'sheet.png', ['sheet.json', 'sheet-array.json', 'sheet.atlas', 'sheet.tpsheet']);

    // A bitmap sheet in columns, frames named by stem from numbered files.
    const frames = {};
    for (let i = 0; i < 12; i++) frames[`${i}.bmp`] = bmp(3 + (i % 4), 2 + (i % 3), i);
    await runCase('bitmap', frames, ['--atlas=json-array,libgdx', '--names=stem', '--sort=natural', '--newline=lf'],
                  'V5', 'sheet.bmp', ['sheet.json', 'sheet.atlas']);

    if (failures) {
        console.log(`${failures} mismatches`);
        process.exit(1);
    }
    console.log('every frame the parsers read is the tool\'s rectangle');
})().catch((e) => {
    console.log(e.stack || String(e));
    process.exit(1);
});

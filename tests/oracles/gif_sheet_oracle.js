// Reads the sheet the tool makes of a GIF with PixiJS's own Spritesheet:
// the animation named after the GIF must hold every frame, in frame order,
// at the rectangles of the JSON; and the play count must agree with what
// gifsicle --info says of the looping block (gifsicle --loopcount=N and
// --no-loopcount make the GIFs, when gifsicle is installed).
//
//   node gif_sheet_oracle.js /path/to/glumixer
//
// Exit status 0: all agree; 1: a mismatch (printed); 77: PixiJS is not
// installed (npm ci in tests/oracles), so the test is skipped.
'use strict';

const fs = require('fs');
const os = require('os');
const path = require('path');
const { spawnSync } = require('child_process');

const modules = path.join(__dirname, 'node_modules');
if (!fs.existsSync(path.join(modules, 'pixi.js'))) {
    console.log('PixiJS not installed (npm ci in tests/oracles): skipped');
    process.exit(77);
}
const PIXI = require(path.join(modules, 'pixi.js'));

const tool = process.argv[2];
let failures = 0;
function check(ok, what) {
    if (!ok) {
        failures++;
        console.log('MISMATCH: ' + what);
    }
}

// A GIF of frames of one colour index each, 8-bit literal LZW codes.
function gif(width, height, frames, loop) {
    const out = [];
    const u16 = (v) => out.push(v & 0xff, (v >> 8) & 0xff);
    out.push(...Buffer.from('GIF89a'));
    u16(width);
    u16(height);
    out.push(0xf7, 0, 0);
    for (let i = 0; i < 256; i++) out.push((i * 37) & 0xff, (i * 11 + 100) & 0xff, (255 - i * 5) & 0xff);
    if (loop !== undefined) {
        out.push(0x21, 0xff, 11, ...Buffer.from('NETSCAPE2.0'), 3, 1);
        u16(loop);
        out.push(0);
    }
    frames.forEach((f, n) => {
        out.push(0x21, 0xf9, 4, (f.disposal << 2) | 1);
        u16(f.delay);
        out.push(0, 0);
        out.push(0x2c);
        u16(f.x);
        u16(f.y);
        u16(f.w);
        u16(f.h);
        out.push(0);
        // Codes of 9 bits: clear, the literals (a clear every 254), end.
        const codes = [256];
        for (let i = 0; i < f.w * f.h; i++) {
            if (i > 0 && i % 254 === 0) codes.push(256);
            codes.push(1 + ((n + i) % 200));
        }
        codes.push(257);
        const bytes = [];
        let acc = 0, bits = 0;
        for (const c of codes) {
            acc |= c << bits;
            bits += 9;
            while (bits >= 8) {
                bytes.push(acc & 0xff);
                acc >>>= 8;
                bits -= 8;
            }
        }
        if (bits > 0) bytes.push(acc & 0xff);
        out.push(8);
        for (let i = 0; i < bytes.length; i += 255) {
            const block = bytes.slice(i, i + 255);
            out.push(block.length, ...block);
        }
        out.push(0);
    });
    out.push(0x3b);
    return Buffer.from(out);
}

function gifsicle(args) {
    const r = spawnSync('gifsicle', args, { encoding: 'latin1' });
    return r.error || r.status !== 0 ? null : r.stdout;
}

async function runCase(label, bytes, loopArgs, options) {
    const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'glx-gif-sheet-'));
    try {
        let file = path.join(dir, 'walk.gif');
        fs.writeFileSync(file, bytes);
        let expectedPlays = null;
        if (loopArgs) {
            const made = path.join(dir, 'made.gif');
            if (gifsicle([...loopArgs, file, '-o', made]) === null) return;
            fs.renameSync(made, file);
            // The looping block as gifsicle reads it, under the browsers' rule.
            const info = gifsicle(['--info', file]);
            const count = /loop count (\d+)/.exec(info);
            expectedPlays = /loop forever/.test(info) ? 0 : count ? Number(count[1]) + 1 : 1;
        }
        const r = spawnSync(tool, [...options, file], { cwd: dir, encoding: 'utf8' });
        check(r.status === 0, `${label}: exit ${r.status} ${r.stderr}`);
        const json = JSON.parse(fs.readFileSync(path.join(dir, 'walk-sheet.json'), 'utf8'));
        const delays = fs.readFileSync(path.join(dir, 'walk', 'delays.txt'), 'utf8').trim().split(/\r?\n/).map(Number);
        if (expectedPlays !== null) check(json.meta.loop === expectedPlays, `${label}: loop ${json.meta.loop}, gifsicle says ${expectedPlays}`);

        const source = new PIXI.TextureSource({ width: json.meta.size.w, height: json.meta.size.h, resolution: 1 });
        const sheet = new PIXI.Spritesheet(new PIXI.Texture({ source }), json);
        await sheet.parse();
        const animation = sheet.animations.walk || [];
        check(animation.length === delays.length, `${label}: PixiJS animation of ${animation.length} frames, ${delays.length} exported`);
        animation.forEach((texture, i) => {
            const name = `walk_${i}`;
            const f = json.frames[name];
            check(f !== undefined && texture === sheet.textures[name], `${label}: animation frame ${i} is not ${name}`);
            if (!f) return;
            check(texture.frame.x === f.frame.x && texture.frame.y === f.frame.y && texture.frame.width === f.frame.w &&
                      texture.frame.height === f.frame.h,
                  `${label}: ${name} at ${texture.frame.x},${texture.frame.y}`);
            check(f.duration === delays[i] * 10, `${label}: ${name} lasts ${f.duration} ms`);
        });
    } finally {
        fs.rmSync(dir, { recursive: true, force: true });
    }
}

(async () => {
    // Twelve frames: a grid of 4 x 3, names that sort apart (walk_10 < walk_2).
    const frames = [];
    for (let i = 0; i < 12; i++)
        frames.push({ x: i % 3, y: i % 2, w: 5 + (i % 3), h: 4, delay: i === 3 ? 0 : 5 + i, disposal: i % 4 });
    const plain = gif(8, 6, frames);
    await runCase('no looping block', plain, null, ['--sheet']);
    await runCase('browser composition, packed', gif(8, 6, frames, 0), null,
        ['--sheet', '--compose=browser', '--trim', '--pack=maxrects', '--padding=1']);
    await runCase('--no-loopcount', plain, ['--no-loopcount'], ['--sheet']);
    await runCase('--loopcount=forever', plain, ['--loopcount=forever'], ['--sheet']);
    await runCase('--loopcount=3', plain, ['--loopcount=3'], ['--sheet', '--compose=browser']);
    if (failures > 0) {
        console.log(`${failures} mismatches`);
        process.exit(1);
    }
    console.log('PixiJS reads every GIF sheet as written');
})().catch((e) => {
    console.log(e.stack || String(e));
    process.exit(1);
});

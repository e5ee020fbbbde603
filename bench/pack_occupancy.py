#!/usr/bin/env python3
"""Packing quality of sheets: occupancy and time of --pack=maxrects --trim.

usage: pack_occupancy.py GLUMIXER WORKDIR FOLDER [FOLDER...] [--padding N] [--ftp NODE_MODULES_DIR]

For each folder of pictures (e.g. make_corpus.py's sprites-100 and sprites-1000,
or an icon set) the folder is copied into WORKDIR and glued with
    --pack=maxrects --trim --alias --padding=N --atlas=json
Occupancy is the pixels of the distinct frame rectangles (trimmed pictures,
without padding) divided by the pixels of all sheets; times are the median wall
time of three runs and the median CPU time (user + system of the tool's
process), which stays meaningful on a busy machine.

With --ftp DIR (a folder holding node_modules/free-tex-packer-core, installed
with `npm install free-tex-packer-core`), the same pictures are packed by that
package's MaxRectsBin (best short side fit) and its OptimalPacker, with the same
padding, trimming, identical-picture detection and no rotation, and measured
the same way (a node process per run; the time includes node's start-up).
"""
import json
import os
import resource
import shutil
import statistics
import subprocess
import sys
import time

FTP_SCRIPT = r"""
const fs = require('fs');
const path = require('path');
const packer = require('free-tex-packer-core');
const [folder, padding, kind, method] = process.argv.slice(2);
const images = fs.readdirSync(folder).filter(n => n.endsWith('.png')).sort()
    .map(n => ({path: n, contents: fs.readFileSync(path.join(folder, n))}));
const options = {textureName: 'sheet', width: 4096, height: 4096, fixedSize: false, powerOfTwo: false,
    padding: Number(padding), extrude: 0, allowRotation: false, detectIdentical: true, allowTrim: true,
    trimMode: 'trim', exporter: 'JsonHash', removeFileExtension: false, prependFolderName: false,
    packer: kind, packerMethod: method};
const t0 = process.hrtime.bigint();
packer(images, options, (files, error) => {
    if (error) { console.error(error); process.exit(1); }
    const ms = Number(process.hrtime.bigint() - t0) / 1e6;
    let used = 0, sheet = 0;
    for (const f of files) {
        if (!f.name.endsWith('.json')) continue;
        const data = JSON.parse(f.buffer.toString());
        sheet += data.meta.size.w * data.meta.size.h;
        const seen = new Set();
        for (const k of Object.keys(data.frames)) {
            const r = data.frames[k].frame;
            const key = r.x + ',' + r.y;
            if (seen.has(key)) continue;
            seen.add(key);
            used += r.w * r.h;
        }
    }
    console.log(JSON.stringify({used, sheet, pages: files.filter(f => f.name.endsWith('.json')).length, ms}));
});
"""


def occupancy_of(atlas):
    pages = atlas["textures"] if "textures" in atlas else [
        {"size": atlas["meta"]["size"], "frames": [dict(v) for v in atlas["frames"].values()]}]
    used = sheet = 0
    for page in pages:
        sheet += page["size"]["w"] * page["size"]["h"]
        seen = set()
        for frame in page["frames"]:
            r = frame["frame"]
            if (r["x"], r["y"]) in seen:
                continue
            seen.add((r["x"], r["y"]))
            used += r["w"] * r["h"]
    return used, sheet, len(pages)


def child_cpu():
    usage = resource.getrusage(resource.RUSAGE_CHILDREN)
    return usage.ru_utime + usage.ru_stime


def run_ours(glumixer, work, folder, padding):
    times, cpus = [], []
    for _ in range(3):
        dst = os.path.join(work, "ours")
        shutil.rmtree(dst, ignore_errors=True)
        shutil.copytree(folder, dst)
        first = sorted(n for n in os.listdir(dst) if n.endswith(".png"))[0]
        out = os.path.join(work, "sheet.png")
        t0, c0 = time.perf_counter(), child_cpu()
        subprocess.run([glumixer, "--pack=maxrects", "--trim", "--alias", "--padding=%d" % padding, "--atlas=json",
                        os.path.join(dst, first), "H1", out, ":silent"], check=True)
        times.append(time.perf_counter() - t0)
        cpus.append(child_cpu() - c0)
    with open(os.path.join(work, "sheet.json")) as f:
        used, sheet, pages = occupancy_of(json.load(f))
    return used, sheet, pages, statistics.median(times), statistics.median(cpus)


def run_ftp(modules, work, folder, padding, kind, method):
    script = os.path.join(work, "ftp_pack.js")
    with open(script, "w") as f:
        f.write(FTP_SCRIPT)
    env = dict(os.environ, NODE_PATH=os.path.join(modules, "node_modules"))
    times, cpus, result = [], [], None
    for _ in range(3):
        t0, c0 = time.perf_counter(), child_cpu()
        out = subprocess.run(["node", script, folder, str(padding), kind, method], check=True, env=env,
                             capture_output=True, text=True).stdout
        times.append(time.perf_counter() - t0)
        cpus.append(child_cpu() - c0)
        result = json.loads(out.strip().splitlines()[-1])
    return result["used"], result["sheet"], result["pages"], statistics.median(times), statistics.median(cpus)


def main():
    args = sys.argv[1:]
    padding, ftp = 0, None
    if "--padding" in args:
        i = args.index("--padding")
        padding = int(args[i + 1])
        del args[i:i + 2]
    if "--ftp" in args:
        i = args.index("--ftp")
        ftp = args[i + 1]
        del args[i:i + 2]
    glumixer, work, folders = args[0], args[1], args[2:]
    os.makedirs(work, exist_ok=True)
    print("| pictures | packer | padding | sheets | occupancy | wall s | CPU s |")
    print("|---|---|---|---|---|---|---|")
    for folder in folders:
        name = os.path.basename(os.path.normpath(folder))
        rows = [("glumixer maxrects", run_ours(glumixer, work, folder, padding))]
        if ftp:
            rows.append(("free-tex-packer MaxRectsBin BSSF",
                         run_ftp(ftp, work, folder, padding, "MaxRectsBin", "BestShortSideFit")))
            rows.append(("free-tex-packer OptimalPacker",
                         run_ftp(ftp, work, folder, padding, "OptimalPacker", "")))
        for label, (used, sheet, pages, seconds, cpu) in rows:
            print("| %s | %s | %d | %d | %.3f | %.2f | %.2f |" % (name, label, padding, pages, used / sheet, seconds,
                                                                 cpu))


if __name__ == "__main__":
    main()

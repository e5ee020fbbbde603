#!/usr/bin/python3
"""Turns bench/run.sh records into a Markdown table: per case, each tool's
median wall (min-max), mean user time, peak RSS and output size, and our
median wall as a ratio to each peer's (below 1.0 = we are faster)."""
import json
import sys


def main():
    rec = sys.argv[1]
    rows = []
    with open(rec + "/cases.tsv") as f:
        for line in f:
            case, peer, rc, rss, size, js = line.rstrip("\n").split("\t")
            med = lo = hi = user = None
            if js != "-":
                r = json.load(open(js))["results"][0]
                med, lo, hi, user = r["median"], r["min"], r["max"], r["user"]
            rows.append(dict(case=case, peer=peer, rc=rc, rss=int(rss or 0), size=int(size or 0),
                             med=med, lo=lo, hi=hi, user=user))
    ours = {r["case"]: r for r in rows if r["peer"] == "glumixer"}
    print("| case | tool | wall s median (min-max) | user s | peak RSS MiB | output bytes | ours / this |")
    print("|---|---|---|---|---|---|---|")
    for r in rows:
        if r["med"] is None:
            wall, user, ratio = "FAIL rc=%s" % r["rc"], "", ""
        else:
            wall = "%.2f (%.2f-%.2f)" % (r["med"], r["lo"], r["hi"])
            user = "%.2f" % r["user"]
            o = ours.get(r["case"])
            ratio = ""
            if r["peer"] != "glumixer" and o and o["med"]:
                ratio = "**%.2fx**" % (o["med"] / r["med"])
        print("| %s | %s | %s | %s | %.0f | %d | %s |" % (r["case"], r["peer"], wall, user, r["rss"] / 1024.0,
                                                       r["size"], ratio))


if __name__ == "__main__":
    main()

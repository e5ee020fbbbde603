#!/usr/bin/python3
"""Turns bench/run.sh records into a Markdown table: per case, each tool's
median wall (min-max), mean user and system time, peak RSS and output size,
our median wall as a ratio to each peer's (below 1.0 = we are faster), and
for our own rows how busy both cores were: wall / ((user + system) / 2),
1.0 when both cores worked all the time."""
import json
import sys


def main():
    rec = sys.argv[1]
    rows = []
    with open(rec + "/cases.tsv") as f:
        for line in f:
            case, peer, rc, rss, size, js = line.rstrip("\n").split("\t")
            med = lo = hi = user = system = None
            if js != "-":
                r = json.load(open(js))["results"][0]
                med, lo, hi, user, system = r["median"], r["min"], r["max"], r["user"], r["system"]
            rows.append(dict(case=case, peer=peer, rc=rc, rss=int(rss or 0), size=int(size or 0),
                             med=med, lo=lo, hi=hi, user=user, system=system))
    ours = {r["case"]: r for r in rows if r["peer"] == "glumixer"}
    print("| case | tool | wall s median (min-max) | user + sys s | wall / (cpu / 2) | peak RSS MiB "
          "| output bytes | ours / this |")
    print("|---|---|---|---|---|---|---|---|")
    for r in rows:
        busy = ""
        if r["med"] is None:
            wall, cpu, ratio = "FAIL rc=%s" % r["rc"], "", ""
        else:
            wall = "%.2f (%.2f-%.2f)" % (r["med"], r["lo"], r["hi"])
            cpu = "%.2f + %.2f" % (r["user"], r["system"])
            if r["peer"] == "glumixer" and r["user"] + r["system"] > 0:
                busy = "%.2f" % (r["med"] / ((r["user"] + r["system"]) / 2))
            o = ours.get(r["case"])
            ratio = ""
            if r["peer"] != "glumixer" and o and o["med"]:
                ratio = "**%.2fx**" % (o["med"] / r["med"])
        print("| %s | %s | %s | %s | %s | %.0f | %d | %s |" % (r["case"], r["peer"], wall, cpu, busy,
                                                            r["rss"] / 1024.0, r["size"], ratio))


if __name__ == "__main__":
    main()

#!/usr/bin/env python3
"""Turns the evaluation runs into a markdown report and two plots (gnuplot, PNG).

usage: report.py CORPUS RUNS_DIR OUT_DIR

RUNS_DIR holds the detection files of kelmor-eval and kelmor-eval-pocketsphinx:
  library.tsv                      the library's loop, fixed settings
  engine-s<score>-t<threshold>.tsv the engine fed directly
  pocketsphinx-<threshold>.tsv     the peer
Writes OUT_DIR/report.md, OUT_DIR/curve.png and OUT_DIR/latency.png.
"""
import collections
import glob
import os
import statistics
import subprocess
import sys

KEYWORDS = ["HEY_JARVIS", "HELLO_WORLD", "HEY_COMPUTER"]
POSITIVE_KINDS = ["keyword", "sentence", "noisy20", "noisy10", "noisy5"]
KIND_TITLES = {"keyword": "alone", "sentence": "in a sentence", "noisy20": "20 dB SNR",
               "noisy10": "10 dB SNR", "noisy5": "5 dB SNR"}
NEGATIVE_KINDS = ["speech", "noise", "silence"]  # false alarms per hour are counted on these
NEAR_KIND = "nearmiss"
FIXED = (1.5, -2.0)


def read_manifest(corpus):
    rows = []
    with open(os.path.join(corpus, "manifest.tsv")) as f:
        header = f.readline().rstrip("\n").split("\t")
        for line in f:
            rows.append(dict(zip(header, line.rstrip("\n").split("\t"))))
    return rows


def read_run(path):
    meta, hits = {}, []
    with open(path) as f:
        for line in f:
            if line.startswith("#"):
                for field in line[1:].split():
                    key, _, value = field.partition("=")
                    meta[key] = value
                continue
            file_id, keyword, seconds = line.rstrip("\n").split("\t")
            hits.append((file_id, keyword, float(seconds)))
    return meta, hits


class Result:
    def __init__(self, manifest, meta, hits):
        self.meta = meta
        files = {r["id"]: r for r in manifest}
        self.cpu_per_s = float(meta["cpu_ms"]) / float(meta["audio_s"])
        by_file = collections.defaultdict(list)
        for file_id, keyword, seconds in hits:
            by_file[file_id].append((keyword, seconds))
        self.negative_hours = sum(float(r["seconds"]) for r in manifest
                                  if r["kind"] in NEGATIVE_KINDS) / 3600
        self.detected = collections.Counter()  # (keyword, kind)
        self.total = collections.Counter()
        self.false_alarms = collections.Counter()  # keyword -> count in negatives
        self.false_by_kind = collections.Counter()  # kind of negative audio
        self.confusions = collections.Counter()  # keyword fired in another's positives
        self.latency = collections.defaultdict(list)  # keyword -> seconds
        self.near_total = 0
        self.near_hit_files = 0
        self.near_hits = collections.Counter()  # keyword -> hits on near-miss phrases
        for r in manifest:
            found = by_file.get(r["id"], [])
            kind, keyword = r["kind"], r["keyword"]
            if kind == NEAR_KIND:
                self.near_total += 1
                if found:
                    self.near_hit_files += 1
                    for k, _ in found:
                        self.near_hits[k] += 1
                continue
            if kind in NEGATIVE_KINDS:
                for k, _ in found:
                    self.false_alarms[k] += 1
                    self.false_by_kind[kind] += 1
                continue
            self.total[(keyword, kind)] += 1
            own = [s for k, s in found if k == keyword]
            if own:
                self.detected[(keyword, kind)] += 1
                end = float(r["keyword_end"])
                if end >= 0:
                    self.latency[keyword].append(own[0] - end)
            for k, _ in found:
                if k != keyword:
                    self.confusions[k] += 1
        del files

    def rate(self, keyword=None, kinds=POSITIVE_KINDS):
        keys = [(k, kind) for k in ([keyword] if keyword else KEYWORDS) for kind in kinds]
        total = sum(self.total[k] for k in keys)
        return sum(self.detected[k] for k in keys) / total if total else float("nan")

    def fa_per_hour(self, keyword=None):
        count = self.false_alarms[keyword] if keyword else sum(self.false_alarms.values())
        return count / self.negative_hours

    def all_latencies(self):
        return [x for k in KEYWORDS for x in self.latency[k]]


def pct(x):
    return "%.0f%%" % (100 * x)


def ms(values, q=None):
    if not values:
        return "-"
    values = sorted(values)
    if q is None:
        return "%.0f" % (1000 * statistics.median(values))
    return "%.0f" % (1000 * values[min(len(values) - 1, int(q * len(values)))])


def gnuplot(script):
    subprocess.run(["gnuplot"], input=script.encode(), check=True)


def main():
    corpus, runs_dir, out = sys.argv[1:4]
    os.makedirs(out, exist_ok=True)
    manifest = read_manifest(corpus)
    runs = {}
    for path in sorted(glob.glob(os.path.join(runs_dir, "*.tsv"))):
        meta, hits = read_run(path)
        runs[os.path.basename(path)[:-4]] = Result(manifest, meta, hits)
    library = runs.get("library")
    engines = {(float(r.meta["score"]), float(r.meta["threshold"])): r
               for name, r in runs.items() if name.startswith("engine-")}
    sphinx = sorted(((float(r.meta["threshold"]), r) for name, r in runs.items()
                     if name.startswith("pocketsphinx-")), reverse=True)

    hours = collections.Counter()
    counts = collections.Counter()
    for r in manifest:
        hours[r["kind"]] += float(r["seconds"]) / 3600
        counts[r["kind"]] += 1
    lines = []
    w = lines.append
    w("# Keyword spotting accuracy\n")
    w("Corpus (generated on the machine by `bench/eval/make_corpus.py` from Debian's espeak-ng, "
      "flite and sox):\n")
    w("| part | files | minutes |")
    w("|---|---:|---:|")
    for kind in POSITIVE_KINDS + [NEAR_KIND] + NEGATIVE_KINDS:
        title = KIND_TITLES.get(kind, {"speech": "non-keyword speech", "noise": "noise",
                                       "silence": "silence",
                                       NEAR_KIND: "near-miss phrases"}.get(kind))
        w("| %s | %d | %.1f |" % (title, counts[kind], 60 * hours[kind]))
    neg_hours = sum(hours[k] for k in NEGATIVE_KINDS)
    w("\nFalse alarms are counted on the %.2f h of non-keyword speech, noise and silence and "
      "given per hour of that audio. The near-miss phrases (\"hey computing is fun\", "
      "\"hello word\", \"jarvis\", ...) are counted apart: clips with a detection, of all.\n"
      % neg_hours)

    if library:
        w("## The library, fixed settings (score 1.5, threshold -2.0, 8 paths)\n")
        w("Detection rate per keyword and condition; false alarms per hour; latency = end of the "
          "spoken keyword to the end of the 100 ms buffer in which the wake callback was called, "
          "in audio time (keyword alone and in noise; the real-time figure, with capture, is "
          "`kelmor-realtime-bench`'s).\n")
        w("| keyword | " + " | ".join(KIND_TITLES[k] for k in POSITIVE_KINDS) +
          " | all | false alarms / h | near-miss hits | wrong-keyword hits "
          "| latency median (p90) ms |")
        w("|---|" + "---:|" * (len(POSITIVE_KINDS) + 5))
        for k in KEYWORDS + [None]:
            cells = [pct(library.rate(k, [kind])) for kind in POSITIVE_KINDS]
            lat = library.latency[k] if k else library.all_latencies()
            conf = library.confusions[k] if k else sum(library.confusions.values())
            near = library.near_hits[k] if k else library.near_hit_files
            w("| %s | %s | %s | %.1f | %d | %d | %s (%s) |" % (
                k or "**all**", " | ".join(cells), pct(library.rate(k)),
                library.fa_per_hour(k), near, conf, ms(lat), ms(lat, 0.9)))
        w("\nFalse alarms by kind of audio: " + ", ".join(
            "%s %d" % (kind, library.false_by_kind[kind]) for kind in NEGATIVE_KINDS) +
          ". CPU: %.1f ms per second of audio.\n" % library.cpu_per_s)

    if engines:
        w("## The engine directly, over its settings\n")
        w("Fed as the library feeds it (same gate and flushes). The fixed settings are marked.\n")
        w("| score | threshold | detection (all) | alone | sentence | 20 dB | 10 dB | 5 dB "
          "| false alarms / h | near-miss clips hit | CPU ms per s |")
        w("|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|")
        for (score, threshold), r in sorted(engines.items()):
            mark = " **(fixed)**" if (score, threshold) == FIXED else ""
            w("| %g | %g%s | %s | %s | %.1f | %d/%d | %.1f |" % (
                score, threshold, mark, pct(r.rate()),
                " | ".join(pct(r.rate(None, [kind])) for kind in POSITIVE_KINDS),
                r.fa_per_hour(), r.near_hit_files, r.near_total, r.cpu_per_s))
        w("")

    if sphinx:
        w("## Side by side with PocketSphinx\n")
        w("PocketSphinx 5prealpha (Debian 12), keyphrase spotting with the en-us acoustic model "
          "and the CMU dictionary, one threshold for all three phrases.\n")
        w("| system | " + " | ".join(KEYWORDS) + " | all | false alarms / h "
          "| near-miss clips hit | CPU ms per s |")
        w("|---|" + "---:|" * (len(KEYWORDS) + 4))
        rows = []
        if library:
            rows.append(("Kelmor (library, fixed settings)", library))
        for threshold, r in sphinx:
            rows.append(("PocketSphinx, kws threshold %s" % r.meta["threshold"], r))
        for name, r in rows:
            w("| %s | %s | %s | %.1f | %d/%d | %.1f |" % (
                name, " | ".join(pct(r.rate(k)) for k in KEYWORDS), pct(r.rate()),
                r.fa_per_hour(), r.near_hit_files, r.near_total, r.cpu_per_s))
        w("")
        w("By condition (all keywords):\n")
        w("| system | " + " | ".join(KIND_TITLES[k] for k in POSITIVE_KINDS) + " |")
        w("|---|" + "---:|" * len(POSITIVE_KINDS))
        for name, r in rows:
            w("| %s | %s |" % (name, " | ".join(pct(r.rate(None, [kind]))
                                               for kind in POSITIVE_KINDS)))
        w("")

    w("![detection against false alarms](curve.png)\n")
    w("![latency histogram](latency.png)\n")
    with open(os.path.join(out, "report.md"), "w") as f:
        f.write("\n".join(lines) + "\n")

    # Curves: detection rate and false alarms over the engine's threshold and score, and the
    # detection / false-alarm plane with PocketSphinx.
    thr = os.path.join(out, "threshold.dat")
    with open(thr, "w") as f:
        for (score, threshold), r in sorted(engines.items(), key=lambda x: x[0][1]):
            if score == FIXED[0]:
                # A negative threshold turns the confidence gate off, as 0 would: drawn at 0.
                f.write("%g %g %g %d\n" % (max(threshold, 0.0), 100 * r.rate(), r.fa_per_hour(),
                                           (score, threshold) == FIXED))
    sco = os.path.join(out, "score.dat")
    with open(sco, "w") as f:
        for (score, threshold), r in sorted(engines.items()):
            if threshold == FIXED[1]:
                f.write("%g %g %g %d\n" % (score, 100 * r.rate(), r.fa_per_hour(),
                                           (score, threshold) == FIXED))
    plane = os.path.join(out, "plane.dat")
    with open(plane, "w") as f:
        for threshold, r in sphinx:
            f.write("%g %g \"%s\"\n" % (r.fa_per_hour(), 100 * r.rate(), r.meta["threshold"]))
        f.write("\n\n")
        for (score, threshold), r in sorted(engines.items()):
            f.write("%g %g \"s%g t%g\"\n" % (r.fa_per_hour(), 100 * r.rate(), score, threshold))
        f.write("\n\n")
        if library:
            f.write("%g %g \"library\"\n" % (library.fa_per_hour(), 100 * library.rate()))
    gnuplot("""
set terminal pngcairo noenhanced size 1150,400 font "sans,9"
set output "%s"
set multiplot layout 1,3
set grid
set yrange [0:100]
set ylabel "detected keywords (%%, all conditions)"
set y2label "false alarms per hour"
set y2range [0:*]
set y2tics
set ytics nomirror
set key top right
set title "engine: keywords_threshold (score 1.5)"
set xlabel "keywords_threshold (-2.0, gate off, drawn at 0)"
set xrange [-0.05:0.55]
plot "%s" using 1:2 with linespoints pt 7 title "detected", \\
     "" using 1:3 axes x1y2 with linespoints pt 6 dt 2 title "false alarms / h", \\
     "" using ($4 > 0 ? $1 : 1/0):2 with points pt 9 ps 2.5 lc rgb "black" title "fixed settings"
set title "engine: keywords_score (threshold -2.0)"
set xlabel "keywords_score"
set xrange [0.8:4.2]
plot "%s" using 1:2 with linespoints pt 7 title "detected", \\
     "" using 1:3 axes x1y2 with linespoints pt 6 dt 2 title "false alarms / h", \\
     "" using ($4 > 0 ? $1 : 1/0):2 with points pt 9 ps 2.5 lc rgb "black" title "fixed settings"
unset y2label
unset y2tics
set ytics mirror
set title "detection against false alarms"
set xlabel "false alarms per hour (%.2f h of non-keyword audio)"
set xrange [-1:*]
set key bottom right
plot "%s" index 0 using 1:2 with linespoints pt 13 title "PocketSphinx (kws threshold)", \\
     "" index 0 using 1:2:3 with labels offset 0,1 font ",8" notitle, \\
     "" index 1 using 1:2 with points pt 7 title "sherpa-onnx engine (all settings)", \\
     "" index 2 using 1:2 with points pt 9 ps 2.5 lc rgb "black" title "library, fixed settings"
unset multiplot
""" % (os.path.join(out, "curve.png"), thr, sco, neg_hours, plane))

    # Latency histogram of the library, 50 ms bins, per keyword.
    if library:
        data = os.path.join(out, "latency.dat")
        bins = collections.defaultdict(collections.Counter)
        for k in KEYWORDS:
            for x in library.latency[k]:
                bins[k][int(x * 1000 // 50) * 50] += 1
        edges = sorted({b for k in KEYWORDS for b in bins[k]})
        with open(data, "w") as f:
            f.write("bin " + " ".join(KEYWORDS) + "\n")
            if edges:
                for b in range(edges[0], edges[-1] + 50, 50):
                    f.write("%d %s\n" % (b, " ".join(str(bins[k][b]) for k in KEYWORDS)))
        gnuplot("""
set terminal pngcairo noenhanced size 760,420 font "sans,10"
set output "%s"
set title "Library: end of keyword to wake callback (audio time, fixed settings)"
set xlabel "ms after the end of the keyword (50 ms bins)"
set ylabel "detections"
set style data histograms
set style histogram rowstacked
set style fill solid 0.8 border -1
set boxwidth 0.9
set key top right
set xtics rotate by -45 font ",8"
plot "%s" using 2:xtic(1) title columnheader, "" using 3 title columnheader, \\
     "" using 4 title columnheader
""" % (os.path.join(out, "latency.png"), data))
    print("report: %s" % os.path.join(out, "report.md"))


if __name__ == "__main__":
    main()

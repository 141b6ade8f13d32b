#!/usr/bin/env python3
"""Generates the keyword-spotting evaluation corpus from Debian packages only.

Speech comes from espeak-ng (several voices and speeds) and flite (its built-in voices); noise
from sox; the non-keyword text from the licence texts every Debian system ships in
/usr/share/common-licenses. Everything is 16 kHz mono signed 16-bit raw PCM, each file padded to
whole 100 ms buffers.

Writes OUT/manifest.tsv, one line per file:
  id  file  kind  keyword  voice  seconds  keyword_end
kind is keyword (the phrase alone), sentence (inside a sentence), noisy20/noisy10/noisy5 (the
phrase alone mixed with noise at that SNR), speech (non-keyword speech), nearmiss (a phrase that
sounds like a keyword), noise or silence.
keyword_end is the end of the spoken phrase in seconds from the file's start (-1 when unknown).

Deterministic: the same packages give the same corpus. Reruns reuse OUT when its stamp matches.

usage: make_corpus.py OUT [--speech-minutes 62] [--jobs 2]
"""
import argparse
import array
import concurrent.futures
import math
import os
import random
import re
import shutil
import subprocess
import sys
import tempfile

VERSION = "kelmor-eval-corpus 2"
RATE = 16000
BUFFER = 1600  # samples in one 100 ms buffer

KEYWORDS = [("hey jarvis", "HEY_JARVIS"), ("hello world", "HELLO_WORLD"),
            ("hey computer", "HEY_COMPUTER")]
ESPEAK_VOICES = ["en-us", "en-us+m3", "en-us+m7", "en-us+f2", "en-us+f4", "en", "en-gb-x-rp",
                 "en-gb-scotland", "en-029"]
ESPEAK_SPEEDS = [130, 160, 190]
FLITE_VOICES = ["slt", "awb", "rms", "kal16", "kal"]
SENTENCES = [
    "so I turned around and said {} please turn on the lights",
    "{} what is the weather going to be like tomorrow",
    "I think you should say {} before you ask anything",
    "okay {} set a timer for ten minutes",
    "when I came home I said {} and nothing happened",
    "{} play some quiet music in the kitchen",
]
SENTENCE_VOICES = [("espeak", "en-us", 160), ("espeak", "en-us+f2", 150),
                   ("espeak", "en-gb-x-rp", 170), ("espeak", "en-us+m3", 175),
                   ("flite", "slt", 0)]
# Phrases that sound like a keyword or hold part of one; none is a keyword.
NEAR_MISSES = ["hey computing is fun", "hey jar of peas", "hello word", "yellow world",
               "hey commuter", "hey Travis", "hey Marvin", "hello whirled", "hey jars of jam",
               "say computer", "jarvis", "hello", "computer", "the world", "hey there",
               "hello there world"]
NOISE_COLOURS = ["pink", "white", "brown"]
SNRS = [20, 10, 5]
LICENCES = ["Apache-2.0", "Artistic", "BSD", "CC0-1.0", "GFDL-1.3", "GPL-2", "GPL-3", "LGPL-2.1",
            "LGPL-3", "MPL-1.1", "MPL-2.0", "GFDL-1.2", "GPL-1", "LGPL-2"]
KEYWORD_WORDS = re.compile(r"\b(hey\s+jarvis|hello\s+world|hey\s+computer)\b", re.I)


def run(args):
    subprocess.run(args, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def to_raw(wav, raw, norm=True):
    """Any audio file to 16 kHz mono s16le raw, peak-normalised to -3 dBFS."""
    args = ["sox", "-D", wav, "-r", str(RATE), "-c", "1", "-b", "16", "-e", "signed-integer",
            "-t", "raw", raw]
    if norm:
        args += ["norm", "-3"]
    run(args)


def synth(engine, voice, speed, text, tmp):
    """Speech of `text` as an array of samples."""
    fd, txt = tempfile.mkstemp(suffix=".txt", dir=tmp)
    with os.fdopen(fd, "w") as f:
        f.write(text + "\n")
    wav = txt[:-4] + ".wav"
    raw = txt[:-4] + ".raw"
    if engine == "espeak":
        run(["espeak-ng", "-v", voice, "-s", str(speed), "-f", txt, "-w", wav])
    else:
        run(["flite", "-voice", voice, "-f", txt, "-o", wav])
    to_raw(wav, raw)
    samples = array.array("h")
    with open(raw, "rb") as f:
        samples.frombytes(f.read())
    for path in (txt, wav, raw):
        os.remove(path)
    return samples


def trim(samples, rms=0.01):
    """Cuts leading and trailing silence (10 ms windows quieter than `rms`)."""
    windows = [i for i in range(0, len(samples) - 160, 160)
               if window_rms(samples, i) > rms]
    if not windows:
        return samples
    return samples[windows[0]:windows[-1] + 160]


def window_rms(samples, at, n=160):
    s = 0.0
    for v in samples[at:at + n]:
        s += (v / 32768.0) ** 2
    return math.sqrt(s / n)


def speech_end(samples, rms=0.02):
    """One past the last sample of a 10 ms window louder than `rms` (the bench's rule)."""
    end = 0
    for i in range(0, len(samples) - 159, 160):
        if window_rms(samples, i) > rms:
            end = i + 160
    return end


def active_rms(samples, rms=0.02):
    s, n = 0.0, 0
    for i in range(0, len(samples) - 159, 160):
        w = samples[i:i + 160]
        e = sum((v / 32768.0) ** 2 for v in w)
        if math.sqrt(e / 160) > rms:
            s += e
            n += 160
    return math.sqrt(s / n) if n else 0.0


def silence(seconds):
    return array.array("h", bytes(2 * int(seconds * RATE)))


def pad(samples):
    rest = len(samples) % BUFFER
    if rest:
        samples.extend(array.array("h", bytes(2 * (BUFFER - rest))))
    return samples


def noise(colour, seconds, seed, tmp):
    raw = os.path.join(tmp, "noise-%s-%d.raw" % (colour, seed))
    run(["sox", "-D", "-n", "-r", str(RATE), "-c", "1", "-b", "16", "-e", "signed-integer",
         "-t", "raw", raw, "synth", str(seconds), colour + "noise", "vol", "0.5"])
    samples = array.array("h")
    with open(raw, "rb") as f:
        samples.frombytes(f.read())
    os.remove(raw)
    return samples


def mix(speech, noise_samples, snr_db):
    """speech + noise scaled so that active speech level / noise RMS is `snr_db`."""
    speech_level = active_rms(speech)
    noise_level = math.sqrt(sum((v / 32768.0) ** 2 for v in noise_samples) / len(noise_samples))
    gain = speech_level / (noise_level * 10 ** (snr_db / 20.0))
    out = array.array("h", bytes(2 * len(speech)))
    for i, v in enumerate(speech):
        x = v + gain * noise_samples[i % len(noise_samples)]
        out[i] = max(-32768, min(32767, int(round(x))))
    return out


def licence_sentences():
    seen, out = set(), []
    for name in LICENCES:
        path = os.path.join("/usr/share/common-licenses", name)
        if not os.path.exists(path):
            continue
        with open(path, encoding="utf-8", errors="replace") as f:
            text = f.read()
        text = re.sub(r"[^A-Za-z0-9,.;:!?'\s-]", " ", text)
        for sentence in re.split(r"[.;:!?]\s+", text):
            words = sentence.split()
            if len(words) < 4 or len(words) > 45:
                continue
            key = " ".join(w.lower() for w in words)
            if key in seen or KEYWORD_WORDS.search(key):
                continue
            seen.add(key)
            out.append(" ".join(words) + ".")
    return out


def job_positive(args):
    """One keyword clip: alone, and mixed with noise at each SNR."""
    index, engine, voice, speed, phrase, name, tmp = args
    speech = trim(synth(engine, voice, speed, phrase, tmp))
    clip = silence(0.5) + speech + silence(1.5)
    end = (int(0.5 * RATE) + speech_end(speech)) / RATE
    out = [("keyword", pad(array.array("h", clip)), end)]
    for k, snr in enumerate(SNRS):
        colour = NOISE_COLOURS[(index + k) % len(NOISE_COLOURS)]
        n = noise(colour, len(clip) / RATE + 0.1, index * 10 + k, tmp)
        out.append(("noisy%d" % snr, pad(mix(clip, n, snr)), end))
    return out


def job_sentence(args):
    engine, voice, speed, text, tmp = args
    speech = trim(synth(engine, voice, speed, text, tmp))
    return pad(silence(0.5) + speech + silence(1.5))


def job_speech(args):
    engine, voice, speed, text, tmp = args
    return pad(silence(0.3) + synth(engine, voice, speed, text, tmp) + silence(1.5))


def voice_label(engine, voice, speed):
    return "%s:%s" % (engine, voice) + (":%d" % speed if engine == "espeak" else "")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("out")
    parser.add_argument("--speech-minutes", type=float, default=62)
    parser.add_argument("--jobs", type=int, default=2)
    args = parser.parse_args()
    out = args.out
    stamp_text = "%s speech=%g\n" % (VERSION, args.speech_minutes)
    stamp = os.path.join(out, "stamp")
    if os.path.exists(stamp) and open(stamp).read() == stamp_text:
        print("corpus: cached in %s" % out)
        return
    for tool in ("espeak-ng", "flite", "sox"):
        if shutil.which(tool) is None:
            sys.exit("corpus: %s is not installed (scripts/setup.sh installs it)" % tool)
    if os.path.exists(out):
        shutil.rmtree(out)
    os.makedirs(os.path.join(out, "audio"))
    tmp = tempfile.mkdtemp(prefix="kelmor-corpus-")
    rows = []

    def write(kind, keyword, voice, samples, end):
        ident = "%04d" % len(rows)
        name = "audio/%s-%s.raw" % (ident, kind)
        with open(os.path.join(out, name), "wb") as f:
            f.write(samples.tobytes())
        rows.append((ident, name, kind, keyword, voice, "%.3f" % (len(samples) / RATE),
                     "%.3f" % end))

    pool = concurrent.futures.ProcessPoolExecutor(max_workers=args.jobs)
    try:
        # Keywords alone, and in noise.
        jobs, labels = [], []
        for phrase, name in KEYWORDS:
            configs = [("espeak", v, s) for v in ESPEAK_VOICES for s in ESPEAK_SPEEDS]
            configs += [("flite", v, 0) for v in FLITE_VOICES]
            for engine, voice, speed in configs:
                jobs.append((len(jobs), engine, voice, speed, phrase, name, tmp))
                labels.append((name, voice_label(engine, voice, speed)))
        print("corpus: %d keyword clips, each also at %s dB SNR" % (len(jobs), SNRS), flush=True)
        for (name, label), clips in zip(labels, pool.map(job_positive, jobs)):
            for kind, samples, end in clips:
                write(kind, name, label, samples, end)

        # Keywords inside sentences.
        jobs, labels = [], []
        for phrase, name in KEYWORDS:
            for template in SENTENCES:
                for engine, voice, speed in SENTENCE_VOICES:
                    jobs.append((engine, voice, speed, template.format(phrase), tmp))
                    labels.append((name, voice_label(engine, voice, speed)))
        print("corpus: %d sentences with a keyword" % len(jobs), flush=True)
        for (name, label), samples in zip(labels, pool.map(job_sentence, jobs)):
            write("sentence", name, label, samples, -1)

        # Near misses.
        jobs = [(engine, voice, speed, text, tmp) for text in NEAR_MISSES
                for engine, voice, speed in SENTENCE_VOICES]
        print("corpus: %d near-miss phrases" % len(jobs), flush=True)
        for job, samples in zip(jobs, pool.map(job_sentence, jobs)):
            write("nearmiss", "-", voice_label(*job[:3]), samples, -1)

        # Non-keyword speech: licence texts, 12 sentences a file, voices in turn.
        sentences = licence_sentences()
        voices = [("espeak", v, s) for s in (150, 175) for v in ESPEAK_VOICES]
        voices += [("flite", v, 0) for v in FLITE_VOICES if v != "kal"]
        random.Random(1).shuffle(voices)
        target = args.speech_minutes * 60
        total, at, batch = 0.0, 0, 0
        print("corpus: %.0f min of non-keyword speech from %d licence sentences"
              % (args.speech_minutes, len(sentences)), flush=True)
        while total < target and at < len(sentences):
            jobs = []
            for _ in range(8):
                if at >= len(sentences):
                    break
                engine, voice, speed = voices[batch % len(voices)]
                batch += 1
                jobs.append((engine, voice, speed, " ".join(sentences[at:at + 12]), tmp))
                at += 12
            for job, samples in zip(jobs, pool.map(job_speech, jobs)):
                write("speech", "-", voice_label(*job[:3]), samples, -1)
                total += len(samples) / RATE
        if total < target:
            print("corpus: only %.0f s of non-keyword speech could be made" % total)

        # Noise and silence.
        for k, colour in enumerate(NOISE_COLOURS):
            for part in range(2):
                write("noise", "-", "sox:%snoise" % colour,
                      pad(noise(colour, 90, 1000 + 10 * k + part, tmp)), -1)
        for part in range(2):
            write("silence", "-", "-", pad(silence(90)), -1)
    finally:
        pool.shutdown()
        shutil.rmtree(tmp, ignore_errors=True)

    with open(os.path.join(out, "manifest.tsv"), "w") as f:
        f.write("id\tfile\tkind\tkeyword\tvoice\tseconds\tkeyword_end\n")
        for row in rows:
            f.write("\t".join(row) + "\n")
    with open(stamp, "w") as f:
        f.write(stamp_text)
    hours = sum(float(r[5]) for r in rows) / 3600
    print("corpus: %d files, %.2f h of audio in %s" % (len(rows), hours, out))


if __name__ == "__main__":
    main()

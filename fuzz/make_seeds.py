#!/usr/bin/python3
"""Writes the seed corpora of the fuzz targets from the tests' vectors.

Run from the repository root; it rewrites fuzz/corpus_<target>/seed_*.
Strings are taken from the C++ test sources (their string literals,
unescaped); PDUs from the DELIVER decoder's corpus."""
import ast
import os
import re

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
LITERAL = re.compile(r'"((?:[^"\\\n]|\\.)*)"')


def literals(path, keep):
    text = open(os.path.join(ROOT, path), encoding="utf-8").read()
    out = []
    for m in LITERAL.finditer(text):
        try:
            s = ast.literal_eval('"' + m.group(1) + '"')
        except (SyntaxError, ValueError):
            continue
        if keep(s) and s not in out:
            out.append(s)
    return out


def write(corpus, seeds):
    d = os.path.join(ROOT, "fuzz", "corpus_" + corpus)
    os.makedirs(d, exist_ok=True)
    for old in os.listdir(d):
        if old.startswith("seed_"):
            os.remove(os.path.join(d, old))
    for i, s in enumerate(seeds):
        data = s if isinstance(s, bytes) else s.encode("latin-1", "replace")
        with open(os.path.join(d, "seed_%03d" % i), "wb") as f:
            f.write(data)


def pdus():
    out = []
    d = os.path.join(ROOT, "fuzz", "corpus_deliver")
    for name in sorted(os.listdir(d)):
        data = open(os.path.join(d, name), "rb").read()
        if data and data[0] % 3 == 0 and re.fullmatch(rb"[0-9A-Fa-f]+", data[1:]):
            out.append(data[1:].decode())
    return out


markers = ("RING", "+CLIP", "+CMTI", "+CMGR", "+CMGL", "ERROR", "+CMS", "+CME", "OK")
received = literals("tests/component/dispatcher_test.cpp", lambda s: any(m in s for m in markers))
received += literals("tests/component/storage_test.cpp", lambda s: any(m in s for m in markers))
for pdu in pdus():
    octets = len(pdu) // 2 - 1 - int(pdu[:2], 16)
    received.append("\r\n+CMTI: \"SM\",3\r\n\r\n+CMGR: 0,,%d\r\n%s\r\n\r\nOK\r\n" % (octets, pdu))
    received.append("\r\n+CMGL: 1,1,,%d\r\n%s\r\n+CMGL: 2,0,,%d\r\n%s\r\n\r\nOK\r\n" % (octets, pdu, octets, pdu))
# The first byte says how the text is cut (and bit 4 text mode).
dispatcher = [chr(c) + s for s in received for c in (0x0F, 0x02)]
text_mode = [s for s in received if "+CMGR: \"" in s or "+CMGL: " in s]
dispatcher += [chr(0x1F) + s for s in text_mode]
write("dispatcher", dispatcher)

# The framing and the read answers: the wire strings of the answer layer's
# tests and the dispatcher's, with the gammu captures quoted there.
wire = literals("tests/at/framing_test.cpp", lambda s: "\r" in s or "\n" in s)
wire += literals("tests/at/answers_test.cpp", lambda s: "\r" in s or "\n" in s)
wire += literals("tests/component/answer_faults_test.cpp", lambda s: any(m in s for m in markers))
wire += [s for s in received if s not in wire]
write("framing", [chr(c) + s for s in wire for c in (0x0F, 0x02)])
write("read_answers", [chr(c) + s for s in wire if "+CMG" in s for c in (0x0F, 0x03)])

write("text_sms", literals("tests/codec/text_mode_test.cpp", lambda s: "\r\n" in s or s.startswith("\"")))

answers = literals("tests/component/device_test.cpp", lambda s: "\r\n" in s)
answers += literals("tests/component/engine_test.cpp", lambda s: "\r\n" in s)
write("extract_strings", ["\x00\x00" + s for s in answers] + ["\x01\x01,;" + s for s in answers[:10]])

commands = []
for source in ("tests/e2e/simulator_test.cpp", "tools/simulator/tests/DialogueTest.cpp",
               "tools/simulator/tests/EngineTest.cpp", "tools/simulator/tests/MessagesTest.cpp"):
    commands += [c for c in literals(source, lambda s: s[:2].upper() == "AT") if c not in commands]
lines = [c if c.endswith("\r") else c + "\r" for c in commands]
lines.append("AT+CMGF=0\rAT+CMGS=18\r0001000B915155010000F000000548656C6C6F\x1a")
lines.append("AT+CMGF=1\rAT+CMGS=\"+15550123\"\rhello\x1a")
lines.append("AT+CPMS=\"SM\"\rAT+CMGL=4\rAT+CMGR=1\rAT+CMGD=1\r")
lines.append("AT+CLIP=1;+CRC=1\rATS0=2\rATD+15550123;\rATH\rA/\r")
write("simulator_at", [chr(c) + "\x05" + l for l in lines for c in (0x00, 0x0B)])

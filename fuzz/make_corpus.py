#!/usr/bin/env python3
"""Writes the seed corpus of both fuzz targets from the examples and the
texts of the tests. Run from anywhere; rewrites fuzz/corpus/{text,plugin}/seed-*."""
import hashlib, pathlib, re

root = pathlib.Path(__file__).resolve().parent.parent
corpus = root / "fuzz" / "corpus"

def texts():
    found = []
    for path in sorted((root / "examples").glob("*.txt")):
        found.append(path.read_text())
    literal = re.compile(r'"((?:[^"\\\n]|\\.)*)"')
    for folder in ("parser", "builtins", "engine", "matrix", "module"):
        for path in sorted((root / "tests" / folder).glob("*.cpp")):
            for match in literal.finditer(path.read_text()):
                text = bytes(match.group(1), "utf-8").decode("unicode_escape", "ignore")
                if len(text) >= 3 and any(c in text for c in ";(=<"):
                    found.append(text)
    unique = []
    for text in found:
        if text not in unique:
            unique.append(text)
    return unique

def write(folder, data):
    name = "seed-" + hashlib.sha1(data).hexdigest()[:16]
    (corpus / folder / name).write_bytes(data)

def main():
    for folder in ("text", "plugin"):
        (corpus / folder).mkdir(parents=True, exist_ok=True)
        for old in (corpus / folder).glob("seed-*"):
            old.unlink()
    all_texts = texts()
    for i, text in enumerate(all_texts):
        body = text.encode("latin-1", "ignore")
        # Flags: math-error mode and interval vary; every fifth seed fails an allocation.
        flags = (i & 1) | ((i % 4) << 1) | ((i % 8) << 3) | (0x40 if i % 5 == 0 else 0)
        write("text", bytes([flags, 1 + i % 40]) + body)
    examples = sorted((root / "examples").glob("*.expr.txt"))
    for path in examples:
        expr = path.read_bytes().replace(b"\0", b"")
        init_path = path.with_name(path.name.replace(".expr.", ".init."))
        init = init_path.read_bytes() if init_path.exists() else b""
        stream = bytes([0, 11, 1, 1, 2, 4])         # instance, 48000 Hz, open
        if init:
            stream += bytes([6]) + init + b"\0"      # Init
        stream += bytes([5]) + expr + b"\0"          # Expr
        stream += bytes([9, 64, 0, 16, 10, 17, 3, 0, 8, 9, 64, 0, 255])  # blocks, one via start
        stream += bytes([8, 7, 0, 0, 0, 1, 9, 5, 0, 1, 11])  # update of Expr, block, close
        write("plugin", stream)
        # The same texts again while a second thread processes blocks.
        stream = bytes([0, 11, 1, 1, 2, 4, 255, 5]) + expr + b"\0"
        stream += bytes([4, 1, 3, 6]) + init + b"\0" + bytes([4, 3, 64, 0, 0, 0, 5]) + expr + b"\0"
        stream += bytes([8, 6, 0, 0, 0, 0, 255, 11])
        write("plugin", stream)
    for i, text in enumerate(all_texts[:200]):
        body = text.encode("latin-1", "ignore").replace(b"\0", b"")
        stream = bytes([0, 11, 1, 1, i % 8, 4, 5]) + body + b"\0" + bytes([9, 33, 0, 40, 11])
        write("plugin", stream)
    print(f"{len(all_texts)} texts, {len(examples)} example patches")

main()

#!/usr/bin/env python3
"""check-doc-links.py ROOT: every relative link in ROOT/README.md and ROOT/docs/*.md must name a
file that exists and, with #anchor, a heading of that file by GitHub's anchor rule. Prints each
broken link and exits 1 if there is one. Checks itself first on a few made-up files."""
import os
import re
import sys
import tempfile
import unicodedata
from urllib.parse import unquote

FENCE = re.compile(r"^ {0,3}(`{3,}|~{3,})")
ATX = re.compile(r"^ {0,3}(#{1,6})(?:[ \t]+(.*?))?(?:[ \t]+#+)?[ \t]*$")
SETEXT = re.compile(r"^ {0,3}(=+|-+)[ \t]*$")
CODE_SPAN = re.compile(r"(`+)(?!`).*?(?<!`)\1(?!`)", re.S)
INLINE_LINK = re.compile(r"\[[^\]]*\]\(\s*<?([^)\s>]*)>?(?:\s+\"[^\"]*\")?\s*\)")
REFERENCE = re.compile(r"^ {0,3}\[[^\]]+\]:\s*<?(\S+?)>?(?:\s|$)", re.M)
SCHEME = re.compile(r"^[A-Za-z][A-Za-z0-9+.-]*:")


def blocks(text):
    """The file's text outside fenced code, as paragraphs (lists of lines, blank-separated)."""
    fence, para = None, []
    for line in text.split("\n"):
        opened = FENCE.match(line)
        if fence:
            if opened and opened.group(1)[0] == fence[0] and len(opened.group(1)) >= len(fence) \
                    and not line.strip().strip(fence[0]):
                fence = None
            continue
        if opened:
            fence = opened.group(1)
        if opened or not line.strip():
            if para:
                yield para
            para = []
        else:
            para.append(line)
    if para:
        yield para


def slug(heading):
    text = CODE_SPAN.sub(lambda m: m.group(0).strip("`").strip(), heading)
    text = re.sub(r"!?\[([^\]]*)\]\([^)]*\)", r"\1", text).lower()
    kept = "".join(c for c in text if c in " -_" or unicodedata.category(c)[0] in "LMN")
    return kept.replace(" ", "-")


def anchors(text):
    found, seen = set(), {}
    for para in blocks(text):
        for i, line in enumerate(para):
            atx, setext = ATX.match(line), SETEXT.match(line)
            if atx:
                title = atx.group(2) or ""
            elif setext and i == 1 and not ATX.match(para[0]):
                title = para[0].strip()
            else:
                continue
            base = slug(title)
            name, count = base, seen.get(base, 0)
            while name in found:
                count += 1
                name = f"{base}-{count}"
            seen[base] = count
            found.add(name)
    return found


def links(text):
    for para in blocks(text):
        prose = CODE_SPAN.sub("", "\n".join(para))
        yield from INLINE_LINK.findall(prose)
        yield from REFERENCE.findall(prose)


def broken(root):
    files = [os.path.join(root, "README.md")]
    docs = os.path.join(root, "docs")
    if os.path.isdir(docs):
        files += sorted(os.path.join(docs, f) for f in os.listdir(docs) if f.endswith(".md"))
    cache, bad, checked = {}, [], 0
    for source in files:
        with open(source, encoding="utf-8") as f:
            text = f.read()
        for target in links(text):
            if not target or SCHEME.match(target):
                continue
            checked += 1
            path, _, anchor = target.partition("#")
            full = os.path.normpath(os.path.join(os.path.dirname(source), unquote(path))) if path else source
            where = os.path.relpath(source, root)
            if not os.path.exists(full):
                bad.append(f"{where}: ({target}): no file {os.path.relpath(full, root)}")
            elif anchor and full.endswith(".md"):
                if full not in cache:
                    with open(full, encoding="utf-8") as f:
                        cache[full] = anchors(f.read())
                if unquote(anchor) not in cache[full]:
                    bad.append(f"{where}: ({target}): no heading #{anchor} in {os.path.relpath(full, root)}")
    return bad, checked, len(files)


SELF_TEST = {
    "README.md": "# Top\n\n## Top\n\n## What's new, (really)?\n\n## `code` and [a link](docs/g.md)\n\n"
                 "Setext\n---\n\n```sh\n# not a heading\n[x](gone.md)\n```\n\n"
                 "[a](docs/g.md#one) [b](#top-1) [c](#whats-new-really) [d](#code-and-a-link) "
                 "[e](#setext) [f](https://example.com/gone) [g](mailto:a@b.c) `[h](gone.md)`\n\n"
                 "[i](docs/none.md) [j](#top-2) [k](#not-a-heading)\n\n[m]: #missing\n",
    "docs/g.md": "# One\n\n[back](../README.md#top) [up](../README.md#gone)\n",
}
SELF_TEST_BROKEN = ["README.md: (docs/none.md)", "README.md: (#top-2)", "README.md: (#not-a-heading)",
                    "README.md: (#missing)", "docs/g.md: (../README.md#gone)"]


def self_test():
    with tempfile.TemporaryDirectory() as root:
        os.mkdir(os.path.join(root, "docs"))
        for name, text in SELF_TEST.items():
            with open(os.path.join(root, name), "w", encoding="utf-8") as f:
                f.write(text)
        got = [line.split(": no ")[0] for line in broken(root)[0]]
    if sorted(got) != sorted(SELF_TEST_BROKEN):
        print(f"check-doc-links self-test: reported {got}, expected {SELF_TEST_BROKEN}")
        return False
    return True


def main(root):
    if not self_test():
        return 1
    bad, checked, files = broken(root)
    for line in bad:
        print(line)
    print(f"check-doc-links: {checked} relative link(s) in {files} file(s), {len(bad)} broken")
    return 1 if bad else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1]))

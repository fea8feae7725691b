#!/usr/bin/env python3
"""The README and the pages of docs/ hold together.

Every relative link and every image of README.md and docs/*.md must name a
file that exists and is installed with them, and a link's #anchor a heading
of the page it names, by GitHub's rule for heading anchors. The layout table
of docs/developing.md must name every folder that holds tracked source files.

    tests/docs_links.py SOURCE_DIR      check the tree; exit 1 naming each fault
    tests/docs_links.py --self-test     check that the checks find what they must
"""

import os
import re
import subprocess
import sys
import tempfile

# Folders whose files are data, not source, and what the build makes.
SKIPPED_FOLDERS = ("tests/data", "fuzz/corpus")
SOURCE_SUFFIXES = (".cpp", ".h", ".py", ".sh", ".cmake")
SOURCE_NAMES = ("CMakeLists.txt",)
LAYOUT_PAGE = "docs/developing.md"
# What the install puts under share/doc/pathwick, as in the source tree
# (cmake/Install.cmake): a link to anything else would break there.
INSTALLED = re.compile(r"^(README\.md|docs/[^/]+\.(md|png))$")
LAYOUT_HEADING = "Layout of the source"

FENCE = re.compile(r"^\s*(```|~~~)")
HEADING = re.compile(r"^(#{1,6})\s+(.*?)\s*#*\s*$")
# [text](target) and ![alt](target); text and alt may run over several lines.
LINK = re.compile(r"!?\[(?:[^\[\]]|\[[^\[\]]*\])*\]\(\s*<?([^)\s>]+)>?(?:\s+\"[^\"]*\")?\s*\)")
INLINE_CODE = re.compile(r"`[^`\n]*`")


def prose(text):
    """The text outside fenced code blocks, with inline code blanked out, so
    that neither counts as links or headings. Line numbers stay as they are."""
    out, fenced = [], False
    for line in text.split("\n"):
        if FENCE.match(line):
            fenced = not fenced
            out.append("")
        elif fenced:
            out.append("")
        else:
            out.append(line)
    return "\n".join(out)


def slug(heading):
    """GitHub's anchor of a heading: its text without markup, lower case,
    every character but letters, digits, '_', '-' and blanks dropped, each
    blank a '-'."""
    text = re.sub(r"!?\[([^\]]*)\]\([^)]*\)", r"\1", heading)  # links keep their text
    text = re.sub(r"<[^>]+>", "", text)  # inline HTML
    text = text.strip().lower()
    text = re.sub(r"[^\w\- ]", "", text)
    return text.replace(" ", "-")


def anchors(text):
    """Every anchor of a page, a repeated heading getting -1, -2, ..."""
    seen, result = {}, set()
    for line in prose(text).split("\n"):
        m = HEADING.match(line)
        if not m:
            continue
        base = slug(m.group(2))
        n = seen.get(base, 0)
        seen[base] = n + 1
        result.add(base if n == 0 else f"{base}-{n}")
    return result


def links(text):
    """(line, target) of every link and image of a page's prose."""
    body = prose(text)
    # Inline code may hold brackets and parentheses; blank it, keeping lengths.
    body = INLINE_CODE.sub(lambda m: " " * len(m.group(0)), body)
    for m in LINK.finditer(body):
        yield body.count("\n", 0, m.start()) + 1, m.group(1)


def check_links(root, pages):
    """The faults of the links of `pages` (paths relative to root)."""
    faults, texts = [], {}

    def read(rel):
        if rel not in texts:
            with open(os.path.join(root, rel), encoding="utf-8") as f:
                texts[rel] = f.read()
        return texts[rel]

    for page in pages:
        for line, target in links(read(page)):
            where = f"{page}:{line}"
            if re.match(r"^[a-z][a-z0-9+.-]*:", target):  # http:, https:, mailto:
                continue
            path, _, fragment = target.partition("#")
            if path:
                rel = os.path.normpath(os.path.join(os.path.dirname(page), path))
                if rel.startswith(".."):
                    faults.append(f"{where}: {target} leaves the source tree")
                    continue
                if not os.path.exists(os.path.join(root, rel)):
                    faults.append(f"{where}: {target}: no such file {rel}")
                    continue
                if not INSTALLED.match(rel):
                    faults.append(f"{where}: {target}: {rel} is not installed beside the pages")
                    continue
            else:
                rel = page
            if fragment:
                if not rel.endswith(".md"):
                    faults.append(f"{where}: {target}: an anchor into a file that is not a page")
                elif fragment not in anchors(read(rel)):
                    faults.append(f"{where}: {target}: {rel} has no heading with the anchor #{fragment}")
    return faults


def source_folders(root):
    """Every folder that holds a tracked source file, from git where the tree
    is a checkout, else from the files on the disk (build folders left out)."""
    try:
        listed = subprocess.run(["git", "-C", root, "ls-files"], check=True, capture_output=True, text=True).stdout
        files = [f for f in listed.split("\n") if f]
    except (OSError, subprocess.CalledProcessError):
        files = []
        for folder, dirs, names in os.walk(root):
            dirs[:] = [d for d in dirs if not d.startswith((".", "build"))]
            rel = os.path.relpath(folder, root)
            files += [os.path.normpath(os.path.join(rel, n)) for n in names]
    folders = set()
    for f in files:
        if not (f.endswith(SOURCE_SUFFIXES) or os.path.basename(f) in SOURCE_NAMES):
            continue
        folder = os.path.dirname(f)
        if not folder or folder.startswith("build") or any(
            folder == s or folder.startswith(s + "/") for s in SKIPPED_FOLDERS
        ):
            continue
        folders.add(folder)
    return folders


def layout_table(text):
    """The rows of the first table under the layout heading."""
    rows, inside = [], False
    for line in prose(text).split("\n"):
        m = HEADING.match(line)
        if m:
            if inside:
                break
            inside = m.group(2).strip() == LAYOUT_HEADING
        elif inside and line.startswith("|"):
            rows.append(line)
        elif inside and rows:
            break
    return rows


def check_layout(root):
    """The source folders the layout table does not name as `folder/`."""
    path = os.path.join(root, LAYOUT_PAGE)
    if not os.path.exists(path):
        return [f"{LAYOUT_PAGE} is missing"]
    with open(path, encoding="utf-8") as f:
        rows = layout_table(f.read())
    if not rows:
        return [f"{LAYOUT_PAGE} has no table under '{LAYOUT_HEADING}'"]
    named = set(re.findall(r"`([^`]+?)/?`", "\n".join(rows)))
    return [
        f"{LAYOUT_PAGE}: the layout table does not name {folder}/, which holds source files"
        for folder in sorted(source_folders(root))
        if folder not in named
    ]


def check(root):
    pages = ["README.md"] + sorted(
        os.path.join("docs", n) for n in os.listdir(os.path.join(root, "docs")) if n.endswith(".md")
    )
    return check_links(root, pages) + check_layout(root)


def self_test():
    """Each broken tree must give exactly its fault; the sound tree none."""
    sound = {
        "README.md": "# Top\n\nSee [the guide](docs/guide.md#a-b_c), ![pic](docs/p.png)\nand [here](#top).\n",
        "docs/guide.md": "# A, b_c\n\n```\n# not a heading\n```\n## Layout of the source\n\n"
        "| path | what |\n|---|---|\n| `src/` | code |\n\n[back](../README.md#top) [again](#a-b_c)\n",
        "docs/p.png": "",
        "docs/developing.md": "## Layout of the source\n\n| path | what |\n|---|---|\n| `src/` | code |\n",
        "src/a.cpp": "",
    }
    cases = [
        ("sound tree", {}, None),
        ("repeated heading, code", {"README.md": "# Top\n## Same\n## Same\n[x](#same-1) `[y](#none)`\n"}, None),
        ("past the repeats", {"README.md": "# Top\n## Same\n## Same\n[x](#same-2)\n"}, "#same-2"),
        ("missing page", {"README.md": "# Top\n[x](docs/nowhere.md)\n"}, "no such file docs/nowhere.md"),
        ("missing image", {"README.md": "# Top\n![x\nover two lines](docs/gone.png)\n"}, "no such file docs/gone.png"),
        ("missing anchor", {"README.md": "# Top\n[x](docs/guide.md#layout)\n"}, "no heading with the anchor #layout"),
        ("anchor in code", {"README.md": "# Top\n[x](docs/guide.md#not-a-heading)\n"}, "#not-a-heading"),
        ("missing own anchor", {"README.md": "# Top\n[x](#bottom)\n"}, "#bottom"),
        ("not installed", {"README.md": "# Top\n[x](src/a.cpp)\n"}, "is not installed"),
        ("outside the tree", {"README.md": "# Top\n[x](../../etc/passwd)\n"}, "leaves the source tree"),
        ("unnamed folder", {"tools/b.py": ""}, "does not name tools/"),
        ("no layout table", {"docs/developing.md": "## Layout of the source\n\nnone\n"}, "has no table"),
    ]
    failed = 0
    for name, change, expected in cases:
        with tempfile.TemporaryDirectory() as root:
            for rel, text in {**sound, **change}.items():
                os.makedirs(os.path.join(root, os.path.dirname(rel)), exist_ok=True)
                with open(os.path.join(root, rel), "w", encoding="utf-8") as f:
                    f.write(text)
            faults = check(root)
        ok = not faults if expected is None else len(faults) == 1 and expected in faults[0]
        if not ok:
            failed += 1
            print(f"self-test '{name}': expected {expected!r}, got {faults}")
    if failed:
        return 1
    print(f"self-test: {len(cases)} cases found as they must be")
    return 0


def main(argv):
    if argv[1:] == ["--self-test"]:
        return self_test()
    if len(argv) != 2 or argv[1].startswith("-"):
        print("usage: docs_links.py SOURCE_DIR | --self-test", file=sys.stderr)
        return 2
    faults = check(argv[1])
    for line in faults:
        print(line)
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))

# SPDX-License-Identifier: MIT
"""The documentation runs as shown: in README.md and docs/*.md, every text
block that starts with "$ tapsmith" or "$ tapsmith-fixed" must print what the
block shows (all of it, or its lines up to a closing "..."), every python
block must run without an error (when the module's directory is given), and
every relative link must lead to a file.

Usage: doc_examples.py SOURCE_DIR TAPSMITH TAPSMITH_FIXED [MODULE_DIR]
"""
import os
import pathlib
import re
import shlex
import subprocess
import sys


def blocks(text, language):
    return re.findall(rf"^```{language}\n(.*?)^```$", text, re.S | re.M)


def main():
    top = pathlib.Path(sys.argv[1])
    programs = {"tapsmith": sys.argv[2], "tapsmith-fixed": sys.argv[3]}
    module_dir = sys.argv[4] if len(sys.argv) > 4 else None
    pages = [top / "README.md", *sorted((top / "docs").glob("*.md"))]
    failures, commands, scripts = [], 0, 0
    for page in pages:
        text = page.read_text()
        name = page.relative_to(top)
        for block in blocks(text, "text"):
            lines = block.splitlines()
            if not lines or not lines[0].startswith("$ tapsmith"):
                continue
            words = shlex.split(lines[0][2:])
            shown = lines[1:]
            whole = not shown or shown[-1] != "..."
            if not whole:
                shown = shown[:-1]
            done = subprocess.run([programs[words[0]], *words[1:]], capture_output=True, text=True, check=False)
            printed = done.stdout.split("\n")
            if printed and printed[-1] == "":
                printed.pop()
            got = printed if whole else printed[: len(shown)]
            commands += 1
            if done.returncode != 0 or got != shown:
                first = next((k for k, (a, b) in enumerate(zip(got, shown)) if a != b), min(len(got), len(shown)))
                failures.append(f"{name}: '{lines[0]}' prints otherwise from its line {first + 1}: "
                                f"{got[first:first + 1]} where the page shows {shown[first:first + 1]}")
        if module_dir:
            for block in blocks(text, "python"):
                env = dict(os.environ, PYTHONPATH=module_dir, PYTHONDONTWRITEBYTECODE="1")
                done = subprocess.run([sys.executable, "-c", block], capture_output=True, text=True, env=env,
                                      check=False)
                scripts += 1
                if done.returncode != 0:
                    failures.append(f"{name}: a python example fails: {done.stderr.strip().splitlines()[-1:]}")
        for target in re.findall(r"\]\(([^)#:]+)(?:#[^)]*)?\)", text):
            if not (page.parent / target).exists():
                failures.append(f"{name}: the link to {target} leads nowhere")
    for failure in failures:
        print("FAIL", failure)
    print(f"docs: {commands} commands, {scripts} python examples, {len(pages)} pages, {len(failures)} failures")
    return 1 if failures or commands == 0 else 0


if __name__ == "__main__":
    sys.exit(main())

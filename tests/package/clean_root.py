"""The packages of a clean Debian that would hold the given packages.

    clean_root.py DEB...

Prints, one a line, the installed packages of this machine that a clean
install of the DEBs needs: Debian's essential packages and everything that
the DEBs' Depends and Pre-Depends pull in, followed as apt would, through
the packages installed here (the first alternative that is installed, or a
package that provides it). Exits 1, naming it, when a dependency is met by
no installed package: then the root cannot be made from this machine.
"""
import re
import subprocess
import sys


def paragraphs(text):
    package = {}
    key = None
    for line in text.splitlines():
        if not line.strip():
            if package:
                yield package
            package, key = {}, None
        elif line[0] in " \t" and key:
            package[key] += "\n" + line
        else:
            key, _, value = line.partition(":")
            package[key] = value.strip()
    if package:
        yield package


def relations(field):
    """[[name, ...], ...]: each dependency's alternatives, names only."""
    result = []
    for item in filter(None, (part.strip() for part in field.split(","))):
        names = [re.sub(r"[\s(\[].*$", "", alt.strip()).split(":")[0] for alt in item.split("|")]
        result.append([name for name in names if name])
    return result


def main(debs):
    with open("/var/lib/dpkg/status", encoding="utf-8") as status:
        installed = {p["Package"]: p for p in paragraphs(status.read())
                     if p.get("Status", "").endswith(" installed")}
    providers = {}
    for name, package in installed.items():
        for provided in relations(package.get("Provides", "")):
            providers.setdefault(provided[0], name)

    wanted = [[name] for name, p in installed.items() if p.get("Essential") == "yes"]
    ours = set()
    for deb in debs:
        fields = subprocess.run(["dpkg-deb", "-f", deb, "Package", "Depends", "Pre-Depends"],
                                check=True, capture_output=True, text=True).stdout
        control = next(paragraphs(fields))
        ours.add(control["Package"])
        wanted += relations(control.get("Depends", "")) + relations(control.get("Pre-Depends", ""))

    chosen = set()
    while wanted:
        alternatives = wanted.pop()
        if any(name in ours or name in chosen for name in alternatives):
            continue
        name = next((n for n in alternatives if n in installed), None)
        name = name or next((providers[n] for n in alternatives if n in providers), None)
        if name is None:
            print("no installed package gives " + " | ".join(alternatives), file=sys.stderr)
            return 1
        if name in chosen:
            continue
        chosen.add(name)
        package = installed[name]
        wanted += relations(package.get("Depends", "")) + relations(package.get("Pre-Depends", ""))
    print("\n".join(sorted(chosen)))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))

"""What tools/pack-zip and tools/pack-msi share: the release's time and its
SHA256SUMS, the project's address."""
import os
import sys

# The project's home: Installed apps' "about" and "help" links. A release
# names it in $KORVANE_PROJECT_URL, as it names where its files are in
# $KORVANE_RELEASE_URL; a build without it says so (project_url()).
UNSET_PROJECT_URL = "https://example.invalid/korvane-file"


def project_url():
    """$KORVANE_PROJECT_URL, or a reserved address and a line on stderr."""
    url = os.environ.get("KORVANE_PROJECT_URL", "")
    if url:
        return url
    print(f"KORVANE_PROJECT_URL is not set; the packages link to {UNSET_PROJECT_URL}",
          file=sys.stderr)
    return UNSET_PROJECT_URL

# 1980-01-01, the earliest time a zip can hold: the time without SOURCE_DATE_EPOCH.
EARLIEST = 315532800


def release_epoch():
    """SOURCE_DATE_EPOCH, or 1980-01-01 without it: the time every packed file carries."""
    epoch = os.environ.get("SOURCE_DATE_EPOCH")
    return max(int(epoch), EARLIEST) if epoch else EARLIEST


def write_sums(folder, file_name, digest):
    """Writes this file's line into SHA256SUMS, keeping the lines of the other
    files that are still in the folder, in name order."""
    path = os.path.join(folder, "SHA256SUMS")
    lines = {file_name: digest}
    if os.path.isfile(path):
        with open(path, encoding="ascii") as f:
            for line in f:
                parts = line.split()
                if len(parts) == 2 and parts[1] != file_name and \
                        os.path.isfile(os.path.join(folder, parts[1])):
                    lines[parts[1]] = parts[0]
    partial = path + ".partial"
    with open(partial, "w", encoding="ascii", newline="\n") as f:
        for name in sorted(lines):
            f.write(f"{lines[name]}  {name}\n")
    os.replace(partial, path)

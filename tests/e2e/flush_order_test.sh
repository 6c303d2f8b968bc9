#!/usr/bin/env bash
# A power cut must never leave an updated file's name on bytes that did not
# reach the disk: the file that replaces a target ("undiff.dat" rebuilt from
# a diff, "new.dat" for a whole-file payload) is flushed (FlushFileBuffers)
# before its handle is closed, and that happens before the target is
# removed. Read from Wine's relay trace of the real patcher's calls on the
# patch-phase installation: the creation of each file with its handle, the
# flushes, the closes and the deletions the shell's file operation makes.
#   flush_order_test.sh UIDRIVER PATCHER PHASES_PATCH_DIR
set -euo pipefail
uidriver=$1 patcher=$2 fixtures=$3
. "$(dirname "$0")/relay_trace.sh"
relay_trace_setup qtr_flush "$fixtures" \
  'kernel32.CreateFileW;kernel32.FlushFileBuffers;kernel32.CloseHandle;kernel32.DeleteFileW'
WINEDEBUG=+relay wine "$uidriver" --answer 6 --timeout 60000 -- "$patcher" >/dev/null 2>"$trace" || {
  echo "flush order: the patcher did not end with exit code 0" >&2
  exit 1
}

# The updated targets of the patch-phase installation, as the patcher names them.
python3 - "$trace" 'C:\qtr_flush\qtr.exe' 'C:\qtr_flush\data\map.dat' 'C:\qtr_flush\data\readme.txt' <<'PY'
import re, sys
trace, targets = sys.argv[1], {t.lower() for t in sys.argv[2:]}
call = re.compile(r'^([0-9a-f]+):(Call|Ret)\s+KERNEL32\.(\w+)\((.*?)\)(?: retval=([0-9a-f]+))?', re.I)
pending = {}      # thread -> (path, written) of a CreateFileW awaiting its handle
open_files = {}   # handle -> [path, flushed]
closed = {}       # path -> whether its last written copy was flushed before it was closed
checked = set()
for line in open(trace, encoding="utf-8", errors="replace"):
    m = call.match(line)
    if not m:
        continue
    thread, kind, name, args, retval = m.groups()
    if name == "CreateFileW" and kind == "Call":
        path = re.search(r'L"(.*?)"', args).group(1).replace("\\\\", "\\").lower()
        access = int(args.split(",")[1], 16)
        pending[thread] = (path, access & 0x40000000 != 0)
    elif name == "CreateFileW" and kind == "Ret" and thread in pending:
        path, written = pending.pop(thread)
        if written:
            open_files[int(retval, 16)] = [path, False]
    elif name == "FlushFileBuffers" and kind == "Call":
        handle = int(args, 16)
        if handle in open_files:
            open_files[handle][1] = True
    elif name == "CloseHandle" and kind == "Call":
        handle = int(args, 16)
        if handle in open_files:
            path, flushed = open_files.pop(handle)
            closed[path] = flushed
    elif name == "DeleteFileW" and kind == "Call":
        path = re.search(r'L"(.*?)"', args).group(1).replace("\\\\", "\\").lower()
        if path in targets:
            folder = path[: path.rfind("\\") + 1]
            # The replacement is the one temporary file of the target's
            # folder that was written and is still there.
            ready = [p for p in (folder + "undiff.dat", folder + "new.dat") if p in closed]
            if len(ready) != 1:
                sys.exit("flush order: %s removed with %d replacements closed beside it" % (path, len(ready)))
            if not closed[ready[0]]:
                sys.exit("flush order: %s removed before %s was flushed to the disk" % (path, ready[0]))
            # Moved to the target's name next: no longer a temporary file.
            del closed[ready[0]]
            checked.add(path)
        closed.pop(path, None)
if checked != targets:
    sys.exit("flush order: targets not seen removed: %s" % sorted(targets - checked))
print("flush order: each of %d replacements flushed before its handle closed and its target removed" % len(checked))
PY

# Sourced by the bench scripts: a work folder removed on exit, holding the printable alphabet
# (tab and 32..126) as "printable" and the first $mib MiB of /usr/bin's ELF binaries, whole and
# in name order, as "binaries.bin".
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
printf '\t' > "$work/printable"
for i in $(seq 32 126); do printf "\\$(printf %o "$i")" >> "$work/printable"; done
for f in /usr/bin/*; do
  [ -f "$f" ] && [ ! -L "$f" ] && head -c 4 "$f" | grep -q ELF && cat "$f"
done 2>/dev/null | head -c $((mib << 20)) > "$work/binaries.bin" || true

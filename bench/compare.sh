#!/usr/bin/env bash
# Times pagewell-cli against img2pdf and ImageMagick's convert on one corpus of photo-like PNG
# images (an RGB set and an RGBA set), side by side with hyperfine, and measures each tool's
# peak memory with GNU time. Writes everything under bench/out/.
#
#   bash bench/compare.sh [--runs N] [--warmup N] [--count IMAGES_PER_SET]
#
# Debian's ImageMagick policy forbids writing PDF. The script lifts that rule for its own run
# only: it re-runs itself in a private mount namespace and bind-mounts a copy of the policy
# without that one rule over the system's file, which stays as it is for everyone else.
set -euo pipefail
cd "$(dirname "$0")/.."

runs=5
warmup=1
count=8
while (($#)); do
    case "$1" in
    --runs) runs=$2; shift 2 ;;
    --warmup) warmup=$2; shift 2 ;;
    --count) count=$2; shift 2 ;;
    *) echo "compare.sh: unknown argument '$1'" >&2; exit 2 ;;
    esac
done

out=bench/out
cli=build/bin/pagewell-cli
# Debian's interpreter, where python3-numpy and python3-pil are installed.
python=/usr/bin/python3
[[ -x $python ]] || python=python3
# ImageMagick's own convert, by the path Debian installs it under.
convert=/usr/bin/convert
[[ -x $convert ]] || convert=$(command -v convert)
policy=/etc/ImageMagick-6/policy.xml

if [[ -z ${PAGEWELL_BENCH_PRIVATE_MOUNTS:-} ]]; then
    for tool in hyperfine img2pdf "$convert" /usr/bin/time; do
        command -v "$tool" >/dev/null || {
            echo "compare.sh: $tool is missing (bash scripts/install-deps.sh --bench)" >&2
            exit 2
        }
    done
    [[ -x $cli ]] || { echo "compare.sh: build $cli first (make build)" >&2; exit 2; }

    # The corpus is made again only when its generator or its size changes.
    mkdir -p "$out"
    stamp="$(sha256sum bench/make_corpus.py | cut -d' ' -f1) count=$count"
    if [[ ! -f $out/corpus/stamp || $(cat "$out/corpus/stamp") != "$stamp" ]]; then
        echo "Making the corpus in $out/corpus ..."
        rm -rf "$out/corpus"
        "$python" bench/make_corpus.py "$out/corpus" --count "$count" 2>/dev/null
        echo "$stamp" >"$out/corpus/stamp"
    fi

    unshare_options=(--mount --propagation private)
    if [[ $(id -u) -ne 0 ]]; then
        # Without root, a user namespace gives the right to mount inside the private one.
        unshare_options+=(--map-root-user)
    fi
    PAGEWELL_BENCH_PRIVATE_MOUNTS=1 exec unshare "${unshare_options[@]}" \
        bash "$0" --runs "$runs" --warmup "$warmup" --count "$count"
fi

# From here on in the private mount namespace.
if [[ -f $policy ]]; then
    grep -v 'domain="coder" rights="none" pattern="PDF"' "$policy" >"$out/policy.xml"
    mount --bind "$out/policy.xml" "$policy"
fi

results=()
for set in rgb rgba; do
    files=("$out/corpus/$set"/*.png)
    pagewell_command="$cli --quiet -o $out/pagewell-$set.pdf $out/corpus/$set"
    img2pdf_command="img2pdf -o $out/img2pdf-$set.pdf ${files[*]}"
    convert_command="$convert ${files[*]} $out/imagemagick-$set.pdf"

    names=(pagewell-cli img2pdf convert)
    commands=("$pagewell_command" "$img2pdf_command" "$convert_command")
    echo
    echo "== $set: ${#files[@]} images, $(du -ch "${files[@]}" | tail -1 | cut -f1) of PNG"
    # A tool that refuses the set (img2pdf will not take an alpha channel) is left out.
    hyperfine_arguments=()
    for i in "${!names[@]}"; do
        if ${commands[$i]} >"$out/${names[$i]}-$set.log" 2>&1; then
            hyperfine_arguments+=(--command-name "${names[$i]}" "${commands[$i]}")
            # Peak memory of one run: GNU time's maximum resident set size, in kilobytes.
            /usr/bin/time -f "%M" -o "$out/${names[$i]}-$set.rss" ${commands[$i]} >/dev/null 2>&1
        else
            echo "${names[$i]} refuses the $set set: $(head -c 300 "$out/${names[$i]}-$set.log")"
            rm -f "$out/${names[$i]}-$set.rss"
        fi
    done
    hyperfine --shell=none --warmup "$warmup" --runs "$runs" --style basic \
        --export-json "$out/$set.json" "${hyperfine_arguments[@]}"
    results+=("$set")
done

"$python" - "$out" "${results[@]}" <<'PYTHON'
import json
import os
import statistics
import sys

out, sets = sys.argv[1], sys.argv[2:]
tools = ["pagewell-cli", "img2pdf", "convert"]
print()
print(f"{'set':5} {'tool':13} {'median s':>9} {'x pagewell':>11} {'peak MB':>8}")
verdicts = []
for name in sets:
    with open(os.path.join(out, f"{name}.json")) as file:
        medians = {r["command"]: statistics.median(r["times"]) for r in json.load(file)["results"]}
    base = medians.get("pagewell-cli")
    for tool in tools:
        rss_file = os.path.join(out, f"{tool}-{name}.rss")
        if tool not in medians:
            print(f"{name:5} {tool:13} {'n/a':>9} {'n/a':>11} {'n/a':>8}")
            continue
        with open(rss_file) as file:
            peak = int(file.read().split()[-1]) / 1024
        ratio = medians[tool] / base if base else float("nan")
        print(f"{name:5} {tool:13} {medians[tool]:9.3f} {ratio:10.2f}x {peak:8.1f}")
    if base and "img2pdf" in medians and name == "rgb":
        verdicts.append((f"img2pdf / pagewell-cli on {name} >= 1.5", medians["img2pdf"] / base >= 1.5))
    if base and "convert" in medians:
        verdicts.append((f"convert slower than pagewell-cli on {name}", medians["convert"] > base))
print()
for text, met in verdicts:
    print(f"{'met   ' if met else 'MISSED'} {text}")
PYTHON

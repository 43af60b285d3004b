#!/bin/bash
# Makes the reference image positions of the .pto files here, once, with pano_trafo (hugin-tools);
# the tests read the .ref files and need no tool. Each .ref line: image number, then a position
# in the 3600 x 1800 equirectangular panorama and the image position it maps to, both as
# pano_trafo prints them (pixels from the top-left corner, pixel centres at whole numbers).
# Positions whose image falls outside the image (or its crop circle) or that do not map back to
# where they came from are left out.
set -e
cd "$(dirname "$0")"
for pto in *.pto; do
    ref="${pto%.pto}.ref"
    : > "$ref"
    images=$(grep -c '^i ' "$pto")
    n=0
    while [ $n -lt "$images" ]; do
        pts=$(awk 'BEGIN { for (y = 37; y < 1800; y += 97) for (x = 13; x < 3600; x += 131) print x + 0.25, y + 0.75 }')
        back=$(echo "$pts" | pano_trafo -r "$pto" $n)
        again=$(echo "$back" | pano_trafo "$pto" $n)
        sizes=$(awk -v n=$n '/^i /{ if (k++ == n) print }' "$pto" |
                sed -E 's/.* w([0-9]+) h([0-9]+) .*/\1 \2/')
        crop=$(awk -v n=$n '/^i /{ if (k++ == n) print }' "$pto" | grep -o ' S[0-9,]*' | tr -d ' S' || true)
        paste -d ' ' <(echo "$pts") <(echo "$back") <(echo "$again") 2>/dev/null |
        awk -v n=$n -v size="$sizes" -v crop="$crop" '
            BEGIN { split(size, s, " "); w = s[1]; h = s[2]; circle = 0
                    if (crop != "") { split(crop, c, ","); circle = 1
                        cx = (c[1] + c[2]) / 2; cy = (c[3] + c[4]) / 2
                        r = ((c[2] - c[1]) < (c[4] - c[3]) ? c[2] - c[1] : c[4] - c[3]) / 2 } }
            {   if ($3 < 0 || $4 < 0 || $3 > w - 1 || $4 > h - 1) next
                if (circle && ($3 - cx) ^ 2 + ($4 - cy) ^ 2 > (r - 2) ^ 2) next
                if (($5 - $1) ^ 2 + ($6 - $2) ^ 2 > 1e-4) next
                printf "%d %.2f %.2f %.4f %.4f\n", n, $1, $2, $3, $4 }' | awk 'NR % 3 == 1' >> "$ref"
        n=$((n + 1))
    done
done

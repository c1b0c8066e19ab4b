#!/usr/bin/env bash
# Remakes the colour-profile samples of tests/data: a Display P3 and an Adobe
# RGB (1998) profile built with Little CMS from their published primaries and
# tone curves, one synthetic photo converted into each by jpgicc (profile
# embedded), and the Adobe RGB photo as TIFF (tificc), PNG and PSD
# (ImageMagick keeps the profile). The tests run jpgicc itself for the
# conversion back to sRGB that Palvex's is held to. Needs liblcms2-dev, liblcms2-utils and
# imagemagick (scripts/setup.sh). The committed files came from this script.
set -euo pipefail
data="$(cd "$(dirname "$0")/../tests/data" && pwd)"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

cat > "$work/profiles.c" <<'C'
#include <lcms2.h>
#include <string.h>
/* usage: profiles p3|adobe OUT.icc */
int main(int argc, char **argv)
{
    if (argc != 3)
        return 2;
    cmsCIExyY d65 = {0.3127, 0.3290, 1.0};
    cmsCIExyYTRIPLE primaries;
    cmsToneCurve *curve;
    const char *name;
    if (strcmp(argv[1], "p3") == 0) {
        cmsCIExyYTRIPLE p3 = {{0.680, 0.320, 1}, {0.265, 0.690, 1}, {0.150, 0.060, 1}};
        cmsFloat64Number srgb[5] = {2.4, 1 / 1.055, 0.055 / 1.055, 1 / 12.92, 0.04045};
        primaries = p3;
        curve = cmsBuildParametricToneCurve(NULL, 4, srgb);
        name = "Display P3";
    } else {
        cmsCIExyYTRIPLE adobe = {{0.64, 0.33, 1}, {0.21, 0.71, 1}, {0.15, 0.06, 1}};
        primaries = adobe;
        curve = cmsBuildGamma(NULL, 563.0 / 256.0);
        name = "Adobe RGB (1998)";
    }
    cmsToneCurve *curves[3] = {curve, curve, curve};
    cmsHPROFILE profile = cmsCreateRGBProfile(&d65, &primaries, curves);
    cmsSetProfileVersion(profile, 2.1);
    cmsMLU *text = cmsMLUalloc(NULL, 1);
    cmsMLUsetASCII(text, "en", "US", name);
    cmsWriteTag(profile, cmsSigProfileDescriptionTag, text);
    cmsMLUsetASCII(text, "en", "US", "No copyright, use freely");
    cmsWriteTag(profile, cmsSigCopyrightTag, text);
    return cmsSaveProfileToFile(profile, argv[2]) ? 0 : 1;
}
C
cc -O1 -o "$work/profiles" "$work/profiles.c" -llcms2
"$work/profiles" p3 "$data/icc/gen__display_p3.icc"
"$work/profiles" adobe "$data/icc/gen__adobe_rgb.icc"

# A small photo-like sRGB picture with fully saturated corners, where the
# gamuts differ most.
convert -seed 21 -size 96x64 plasma:fractal \
  -fill '#ff0000' -draw 'rectangle 0,0 15,15' -fill '#00ff00' -draw 'rectangle 80,0 95,15' \
  -fill '#0000ff' -draw 'rectangle 0,48 15,63' -fill '#ffff00' -draw 'rectangle 80,48 95,63' \
  -quality 95 "$work/photo.jpg"

for space in display_p3 adobe_rgb; do
  jpgicc -q95 -e -o"$data/icc/gen__$space.icc" "$work/photo.jpg" "$data/jpeg/gen__jpeg_$space.jpg"
done

convert "$work/photo.jpg" -compress none "$work/photo.tif"
tificc -e -o"$data/icc/gen__adobe_rgb.icc" "$work/photo.tif" "$data/tif/gen__tif_adobe_rgb.tif"
convert "$data/tif/gen__tif_adobe_rgb.tif" "$data/png/gen__png_adobe_rgb.png"
convert "$data/tif/gen__tif_adobe_rgb.tif" "$data/psd/gen__psd_adobe_rgb.psd"

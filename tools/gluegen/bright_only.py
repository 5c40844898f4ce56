#!/usr/bin/python3
"""Links the labelled pictures of SRC whose every dot is brighter than the board around it
into DST, for trials that leave dark glue out of the varied pictures:
    bright_only.py SRC DST
A dot is bright when the median grey of its inner part (within 0.7 of its half-sides)
lies above the median of the ring from 1.3 to 2 half-sides round it. Pictures without
dots are kept: their print and specks still teach what is not glue."""
import glob
import os
import sys

import cv2
import numpy as np


def all_bright(jpg, txt):
    im = cv2.imread(jpg, cv2.IMREAD_GRAYSCALE).astype(np.float32)
    H, W = im.shape
    for line in open(txt):
        p = line.split()
        if len(p) < 5:
            continue
        cx, cy = float(p[1]) * W, float(p[2]) * H
        hw, hh = max(float(p[3]) * W / 2, 1), max(float(p[4]) * H / 2, 1)
        r = 2 * max(hw, hh)
        x0, x1 = int(max(cx - r, 0)), int(min(cx + r + 1, W))
        y0, y1 = int(max(cy - r, 0)), int(min(cy + r + 1, H))
        yy, xx = np.mgrid[y0:y1, x0:x1]
        d = np.hypot((xx - cx) / hw, (yy - cy) / hh)
        patch = im[y0:y1, x0:x1]
        inner, ring = patch[d < 0.7], patch[(d > 1.3) & (d < 2.0)]
        if len(inner) == 0 or len(ring) == 0 or np.median(inner) <= np.median(ring):
            return False
    return True


def main():
    src, dst = sys.argv[1], sys.argv[2]
    os.makedirs(dst, exist_ok=True)
    kept = total = 0
    for txt in sorted(glob.glob(os.path.join(src, 'pic_*.txt'))):
        jpg = txt[:-4] + '.jpg'
        total += 1
        if all_bright(jpg, txt):
            kept += 1
            for f in (jpg, txt):
                link = os.path.join(dst, os.path.basename(f))
                if not os.path.lexists(link):
                    os.symlink(os.path.abspath(f), link)
    print(kept, 'of', total, 'kept')


if __name__ == '__main__':
    main()

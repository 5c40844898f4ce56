#!/usr/bin/env python3
"""Trial of a second stage: the installed network proposes dots at a low threshold, and a
small network looking at each candidate on a full-resolution crop keeps or drops it.

    second_stage.py STATION TRAIN_DIR TEST_DIR [TEST_DIR ...] [--steps N] [--threshold T]

The folders hold labelled pictures (pic_*.jpg with Darknet .txt labels). The crop network
learns from TRAIN_DIR's labelled dots and the candidates there that are no dot; the script
then prints, on each TEST_DIR, dot precision and recall (IoU >= 0.5) of the
network alone at the station's threshold and of the two stages at several of the second
one's thresholds, the candidates per picture and the second stage's work per crop. It is a
measurement, not part of the station: the station's detector has one stage.
"""
import argparse
import glob
import os
import time

import cv2
import numpy as np
import torch
import torch.nn as nn

from train import read_cfg

CROP = 48        # px of the picture around a candidate's centre; dots are 10 to 41 px
STATION_THRESHOLD = 0.1
NMS = 0.4


def read_labels(path, size):
    """Darknet labels as x0, y0, x1, y1 in pixels."""
    w, h = size
    rows = []
    if os.path.exists(path):
        with open(path) as f:
            for line in f:
                p = line.split()
                if len(p) == 5:
                    cx, cy, bw, bh = (float(v) for v in p[1:])
                    rows.append([(cx - bw / 2) * w, (cy - bh / 2) * h, (cx + bw / 2) * w, (cy + bh / 2) * h])
    return np.array(rows, np.float64).reshape(-1, 4)


def iou(a, b):
    if len(a) == 0 or len(b) == 0:
        return np.zeros((len(a), len(b)))
    x0 = np.maximum(a[:, None, 0], b[None, :, 0])
    y0 = np.maximum(a[:, None, 1], b[None, :, 1])
    x1 = np.minimum(a[:, None, 2], b[None, :, 2])
    y1 = np.minimum(a[:, None, 3], b[None, :, 3])
    inter = np.clip(x1 - x0, 0, None) * np.clip(y1 - y0, 0, None)
    area = lambda z: (z[:, 2] - z[:, 0]) * (z[:, 3] - z[:, 1])
    return inter / (area(a)[:, None] + area(b)[None, :] - inter)


class FirstStage:
    """The installed network through OpenCV, its blob and decoding as the station's."""

    def __init__(self, station):
        model = os.path.join(station, "model")
        self.net = cv2.dnn.readNetFromDarknet(os.path.join(model, "jd.cfg"), os.path.join(model, "jd.weights"))
        _, self.input, _ = read_cfg(model)

    def candidates(self, image, threshold):
        h, w = image.shape[:2]
        self.net.setInput(cv2.dnn.blobFromImage(image, 1 / 255.0, self.input, swapRB=True, crop=False))
        rows = np.concatenate([o.reshape(-1, o.shape[-1]) for o in self.net.forward(self.net.getUnconnectedOutLayersNames())])
        scores = rows[:, 5:].max(1)
        rows, scores = rows[scores > threshold], scores[scores > threshold]
        boxes = [[int((r[0] - r[2] / 2) * w), int((r[1] - r[3] / 2) * h), int(r[2] * w), int(r[3] * h)] for r in rows]
        keep = cv2.dnn.NMSBoxes(boxes, scores.tolist(), threshold, NMS) if boxes else []
        keep = np.array(keep, int).reshape(-1)
        out = np.array([[boxes[i][0], boxes[i][1], boxes[i][0] + boxes[i][2], boxes[i][1] + boxes[i][3]] for i in keep],
                       np.float64).reshape(-1, 4)
        return out, scores[keep] if len(keep) else np.zeros(0)


def crop(padded, box):
    """The CROP x CROP square round a box's centre, from a grey picture padded by CROP."""
    cx, cy = int((box[0] + box[2]) / 2), int((box[1] + box[3]) / 2)
    return padded[cy + CROP // 2:cy + CROP + CROP // 2, cx + CROP // 2:cx + CROP + CROP // 2]


def pictures(folder, stage, threshold):
    """(grey picture padded for crop, labelled dots, candidates, their scores) for every picture."""
    for path in sorted(glob.glob(os.path.join(folder, "pic_*.jpg"))):
        image = cv2.imread(path, cv2.IMREAD_COLOR)
        truth = read_labels(path[:-4] + ".txt", (image.shape[1], image.shape[0]))
        found, scores = stage.candidates(image, threshold)
        grey = cv2.cvtColor(image, cv2.COLOR_BGR2GRAY)
        yield cv2.copyMakeBorder(grey, CROP, CROP, CROP, CROP, cv2.BORDER_REFLECT), truth, found, scores


def block(i, o):
    return nn.Sequential(nn.Conv2d(i, o, 3, padding=1), nn.BatchNorm2d(o), nn.ReLU())


def crop_network():
    return nn.Sequential(block(1, 16), block(16, 16), nn.MaxPool2d(2), block(16, 32), block(32, 32), nn.MaxPool2d(2),
                         block(32, 64), block(64, 64), nn.MaxPool2d(2), block(64, 64), nn.AdaptiveAvgPool2d(1),
                         nn.Flatten(), nn.Linear(64, 1))


def mflop_per_crop(net):
    total, side = 0, CROP
    for layer in net:
        if isinstance(layer, nn.MaxPool2d):
            side //= 2
        elif isinstance(layer, nn.Sequential):
            conv = layer[0]
            total += 2 * conv.weight.numel() * side * side
    return total / 1e6


def score(truth, boxes):
    """Matched dots, labelled dots and found dots, greedily at IoU >= 0.5."""
    hits = 0
    if len(boxes) and len(truth):
        o = iou(boxes, truth)
        free = np.ones(len(truth), bool)
        for i in np.argsort(-o.max(1)):
            j = int(np.argmax(np.where(free, o[i], -1)))
            if free[j] and o[i, j] >= 0.5:
                free[j] = False
                hits += 1
    return np.array([hits, len(truth), len(boxes)])


def measure(test, stage, net, threshold):
    """Both stages' figures on one labelled folder."""
    cuts = (0.1, 0.3, 0.5, 0.7, 0.9)
    alone, proposed, both = np.zeros(3), np.zeros(3), {c: np.zeros(3) for c in cuts}
    candidates, count = 0, 0
    for padded, truth, found, scores in pictures(test, stage, threshold):
        count += 1
        candidates += len(found)
        alone += score(truth, found[scores > STATION_THRESHOLD])
        proposed += score(truth, found)
        if len(found):
            with torch.no_grad():
                p = torch.sigmoid(net(torch.tensor(np.array([crop(padded, b) for b in found], np.float32)[:, None] / 255.0))
                                  ).squeeze(1).numpy()
        else:
            p = np.zeros(0)
        for c in cuts:
            both[c] += score(truth, found[p >= c])

    def line(what, s):
        print(f"{what}: precision {100 * s[0] / max(1, s[2]):.2f} %, recall {100 * s[0] / max(1, s[1]):.2f} %")

    print(f"{test}: {count} pictures, {candidates / max(1, count):.1f} candidates a picture at {threshold}")
    line(f"first stage alone at {STATION_THRESHOLD}", alone)
    line(f"first stage alone at {threshold}", proposed)
    for c in cuts:
        line(f"both stages, the second at {c}", both[c])


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("station")
    ap.add_argument("train")
    ap.add_argument("test", nargs="+")
    ap.add_argument("--steps", type=int, default=3000)
    ap.add_argument("--threshold", type=float, default=0.01, help="the first stage's threshold for candidates")
    args = ap.parse_args()
    torch.set_num_threads(2)
    torch.manual_seed(0)
    rng = np.random.default_rng(0)
    stage = FirstStage(args.station)

    crops, labels = [], []
    for padded, truth, found, _ in pictures(args.train, stage, args.threshold):
        for box in truth:
            crops.append(crop(padded, box))
            labels.append(1)
        overlap = iou(found, truth).max(1) if len(truth) else np.zeros(len(found))
        for box, o in zip(found, overlap):
            if o < 0.3:  # a box drawn round a dot otherwise is neither
                crops.append(crop(padded, box))
                labels.append(0)
    x = torch.tensor(np.array(crops, np.float32)[:, None] / 255.0)
    y = torch.tensor(labels, dtype=torch.float32)
    print(f"{args.train}: {int(y.sum())} dots and {int((y == 0).sum())} candidates that are none", flush=True)

    net = crop_network()
    opt = torch.optim.AdamW(net.parameters(), 2e-3, weight_decay=1e-4)
    sched = torch.optim.lr_scheduler.OneCycleLR(opt, 2e-3, total_steps=args.steps)
    balance = float((y == 0).sum() / y.sum())
    start = time.time()
    for step in range(args.steps):
        i = torch.from_numpy(rng.integers(0, len(y), 64))
        batch = torch.rot90(x[i], int(rng.integers(4)), (2, 3))
        if rng.random() < 0.5:
            batch = torch.flip(batch, (3,))
        batch = batch * (0.7 + 0.6 * torch.rand(len(i), 1, 1, 1)) + 0.2 * (torch.rand(len(i), 1, 1, 1) - 0.5)
        weight = torch.where(y[i] > 0, torch.tensor(balance), torch.tensor(1.0))
        loss = nn.functional.binary_cross_entropy_with_logits(net(batch).squeeze(1), y[i], weight=weight)
        opt.zero_grad()
        loss.backward()
        opt.step()
        sched.step()
        if step % 500 == 0 or step == args.steps - 1:
            print(f"step {step + 1} of {args.steps} loss {loss.item():.4f} {time.time() - start:.0f} s", flush=True)
    net.eval()

    for test in args.test:
        measure(test, stage, net, args.threshold)
    print(f"second stage: {mflop_per_crop(net):.1f} MFLOP a crop of {CROP} x {CROP}")


if __name__ == "__main__":
    main()

#!/usr/bin/python3
"""Trains the station's glue-dot network on generated pictures and writes it in Darknet form.

    train.py train   --data DIR[:N][,DIR...] --work DIR [--steps N] [--stop-at S] [--init CKPT|MODEL_DIR] [--lr LR]
                     [--width W] [--patch | --deep] [--input WxH] (resumes from WORK/checkpoint.pt; --init starts from another run's weights, or
                     from a Darknet model folder, whose folded batch norm then stays as it is)
    train.py adapt   --data DIR[,DIR...] --work DIR [--model MODEL_DIR] [--keep DIR[:N][,...]] [--steps N] [--lr LR]
                     [--held-out 0|1] (fine-tunes an installed model on a plant's own labelled pictures: any picture
                     with a YOLO .txt beside it; writes WORK/station/model and WORK/held-out)
    train.py export  --work DIR --out MODEL_DIR          (jd.cfg, jd.weights, jd.names)
    train.py check   --out MODEL_DIR --image FILE        (OpenCV's output against PyTorch's)

The pictures are stretched to the network's input (416 x 416; a model's own jd.cfg says its
size) exactly as the station's blobFromImage does, then
cut into tiles; the network is fully convolutional, so tiles of the same pixel scale teach
it what whole pictures need, at a fraction of the cost. Batch norm is folded into the
convolutions on export, so the Darknet file needs no normalisation layers.
"""
import argparse
import glob
import math
import os
import shutil
import struct
import sys
import time

import cv2
import numpy as np
import torch
import torch.nn as nn
import torch.nn.functional as F

SEED = 20261208
INPUT = (416, 416)  # width, height: the blob the station makes; a model's own jd.cfg says which
TILE = 256
STRIDE = 8
ANCHORS = [(8, 10), (13, 17), (20, 26)]  # pixels of the 416 x 416 input
CLASSES = ["glue"]
# (kind, filters, size, stride): the layers of jd.cfg in order. The early full-size layers
# cost the most time on the CPU for what they do, so they stay narrow; the width sits at
# 26 x 26, where a 3 x 3 layer sees a whole dot and the print around it.
LAYERS = [
    ("conv", 12, 3, 2),    # 0: 208
    ("conv", 24, 3, 2),    # 1: 104
    ("conv", 48, 3, 2),    # 2: 52, fine detail for the box
    ("conv", 96, 3, 2),    # 3: 26
    ("conv", 96, 3, 1),    # 4: 26, context around each dot
    ("upsample",),         # 5: 52
    ("route", -1, 2),      # 6: 96 + 48
    ("conv", 32, 1, 1),    # 7
    ("conv", 48, 3, 1),    # 8: 52, a dot's outline against its neighbours: glue or small print
    ("head",),             # 9: 1 x 1, 3 anchors x (5 + classes), linear
    ("yolo",),             # 10
]


# The same head on a stem that cuts the picture into 4 x 4 patches at once. 48 filters keep
# every value of a patch (4 x 4 x 3), so the 104 x 104 map loses no detail of a small dot or
# of a letter inside a printed disc; the 208 x 208 map, the slowest for what it does, goes.
PATCH_LAYERS = [
    ("conv", 48, 4, 4, 0),  # 0: 104, no padding: patches do not overlap
    ("conv", 64, 3, 2),     # 1: 52
    ("conv", 96, 3, 2),     # 2: 26
    ("conv", 96, 3, 1),     # 3: 26
    ("upsample",),          # 4: 52
    ("route", -1, 1),       # 5: 96 + 64
    ("conv", 32, 1, 1),     # 6
    ("conv", 48, 3, 1),     # 7
    ("head",),              # 8
    ("yolo",),              # 9
]


# Two 3 x 3 layers at each scale from 104 x 104 down and a deeper head: about 3.4 times
# the work of LAYERS, too slow for the line. It measures whether the network's capacity,
# not the pictures, limits what it can tell apart.
DEEP_LAYERS = [
    ("conv", 16, 3, 2),    # 0: 208
    ("conv", 32, 3, 2),    # 1: 104
    ("conv", 32, 3, 1),    # 2: 104
    ("conv", 64, 3, 2),    # 3: 52
    ("conv", 64, 3, 1),    # 4: 52
    ("conv", 128, 3, 2),   # 5: 26
    ("conv", 128, 3, 1),   # 6: 26
    ("upsample",),         # 7: 52
    ("route", -1, 4),      # 8: 128 + 64
    ("conv", 64, 1, 1),    # 9
    ("conv", 64, 3, 1),    # 10
    ("conv", 64, 3, 1),    # 11
    ("head",),             # 12
    ("yolo",),             # 13
]


def conv_pad(layer):
    """Padding of a convolution: its own when given, else half its size (Darknet's pad=1)."""
    return layer[4] if len(layer) > 4 else layer[2] // 2


def widened(factor):
    """LAYERS with every convolution from the 52 x 52 map on `factor` times as wide: to
    measure whether the network's width, not the pictures, limits what it learns."""
    layers = []
    for i, layer in enumerate(LAYERS):
        if layer[0] == "conv" and i >= 2:
            _, f, k, s = layer
            layer = ("conv", max(8, int(round(f * factor / 8)) * 8), k, s)
        layers.append(layer)
    return layers


BATCH = 24
LR = 2e-3
ADAPT_STEPS = 1500
ADAPT_LR = 5e-4
YOLO_THRESH = 0.01  # OpenCV zeroes class scores under this; the station's own 0.1 must decide


class Net(nn.Module):
    def __init__(self):
        super().__init__()
        self.blocks = nn.ModuleList()
        channels = [3]
        for layer in LAYERS:
            c_in = channels[-1]
            if layer[0] == "conv":
                _, f, k, s = layer[:4]
                self.blocks.append(nn.Sequential(
                    nn.Conv2d(c_in, f, k, s, conv_pad(layer), bias=False), nn.BatchNorm2d(f), nn.LeakyReLU(0.1)))
                channels.append(f)
            elif layer[0] == "head":
                head = nn.Conv2d(c_in, len(ANCHORS) * (5 + len(CLASSES)), 1, 1, 0)
                with torch.no_grad():
                    # Start from "almost nothing is a dot": the background does not swamp
                    # the first steps.
                    bias = head.bias.view(len(ANCHORS), 5 + len(CLASSES))
                    bias[:, 4] = -4.6
                    bias[:, 5:] = 2.0
                self.blocks.append(head)
                channels.append(len(ANCHORS) * (5 + len(CLASSES)))
            elif layer[0] == "route":
                idx = [i if i >= 0 else len(channels) - 1 + i for i in layer[1:]]
                self.blocks.append(nn.Identity())
                channels.append(sum(channels[i + 1] for i in idx))
            else:
                self.blocks.append(nn.Identity())
                channels.append(c_in)

    def forward(self, x):
        outs = []
        for i, (layer, block) in enumerate(zip(LAYERS, self.blocks)):
            if layer[0] == "upsample":
                x = F.interpolate(x, scale_factor=2, mode="nearest")
            elif layer[0] == "route":
                x = torch.cat([outs[j if j >= 0 else i + j] for j in layer[1:]], 1)
            elif layer[0] != "yolo":
                x = block(x)
            outs.append(x)
        return x  # raw head: B x A*(5+C) x H x W


def load_darknet(net, model_dir):
    """Weights of an exported model: each convolution carries its folded batch norm as a bias,
    so the batch norms become identities (scale 1, mean 0, variance 1 - eps)."""
    with open(os.path.join(model_dir, "jd.weights"), "rb") as f:
        f.read(struct.calcsize("<iiiq"))
        data = np.frombuffer(f.read(), dtype="<f4")
    at = 0

    def take(t):
        nonlocal at
        n = t.numel()
        if at + n > data.size:
            sys.exit(f"{model_dir}/jd.weights is shorter than the network")
        t.copy_(torch.from_numpy(data[at:at + n].copy()).view_as(t))
        at += n

    with torch.no_grad():
        for layer, block in zip(LAYERS, net.blocks):
            if layer[0] == "conv":
                conv, bn = block[0], block[1]
                take(bn.bias)
                take(conv.weight)
                bn.weight.fill_(1.0)
                bn.running_mean.zero_()
                bn.running_var.fill_(1.0 - bn.eps)
            elif layer[0] == "head":
                take(block.bias)
                take(block.weight)
    if at != data.size:
        sys.exit(f"{model_dir}/jd.weights does not fit the network ({data.size - at} values left over)")


def hold_batch_norm(net):
    """Batch norm in inference mode while training: the statistics folded in stay valid."""
    for m in net.modules():
        if isinstance(m, nn.BatchNorm2d):
            m.eval()


def set_input(text):
    """INPUT from "WxH", and ANCHORS scaled from the 416 x 416 ones, so that a dot of the
    picture meets an anchor of its own size at any input."""
    global INPUT, ANCHORS
    try:
        w, h = (int(v) for v in text.lower().split("x"))
    except ValueError:
        sys.exit(f"--input {text}: give it as WxH, for example 736x544")
    if min(w, h) < TILE or w % 32 or h % 32:
        sys.exit(f"--input {text}: this trainer takes multiples of 32 from {TILE} up")
    ANCHORS = [(round(aw * w / 416), round(ah * h / 416)) for aw, ah in ANCHORS]
    INPUT = (w, h)


def label_rows(lines):
    rows = np.array([[float(v) for v in line.split()] for line in lines if line.strip()],
                    dtype=np.float32).reshape(-1, 5)
    w, h = INPUT
    return rows[:, 1:5] * np.array([w, h, w, h], dtype=np.float32)  # cx, cy, w, h in input pixels


def load_set(data_dirs):
    """Every picture stretched to the network input, grey kept as one channel to save memory.
    Pictures (pic_*) and the three images of each product (prod_*, stacked) alike."""
    images, labels = [], []
    stretch = lambda im: cv2.resize(im, INPUT, interpolation=cv2.INTER_LINEAR)
    for data_dir in data_dirs:
        # DIR:N takes the first N pictures of DIR only.
        data_dir, _, most = data_dir.partition(":")
        if not glob.glob(os.path.join(data_dir, "pic_*.jpg")) and not glob.glob(os.path.join(data_dir, "prod_*.jpg")):
            # Not gluegen's: any labelled pictures, as a plant keeps them.
            more = load_pictures(labelled_pictures([data_dir])[0][:int(most) if most else None])
            images += more[0]
            labels += more[1]
            continue
        for path in sorted(glob.glob(os.path.join(data_dir, "pic_*.jpg")))[:int(most) if most else None]:
            images.append(stretch(cv2.imread(path, cv2.IMREAD_UNCHANGED)))
            with open(path[:-4] + ".txt") as f:
                labels.append(label_rows(f))
        for path in sorted(glob.glob(os.path.join(data_dir, "prod_*.jpg"))):
            stacked = cv2.imread(path, cv2.IMREAD_UNCHANGED)
            h = stacked.shape[0] // 3
            with open(path[:-4] + ".txt") as f:
                parts = f.read().split("image ")[1:]  # after "expected" and "defect": "k\n" + labels
            if len(parts) != 3:
                sys.exit(f"{path[:-4]}.txt: expected three images")
            for k, part in enumerate(parts):
                images.append(stretch(stacked[k * h:(k + 1) * h]))
                labels.append(label_rows(part.splitlines()[1:]))
    return images, labels


PICTURE_TYPES = (".jpg", ".jpeg", ".png", ".bmp")


def read_cfg(model_dir):
    """The network a Darknet model folder describes, in this trainer's terms: its layers, its
    input (width, height) and its anchors. Only what export writes is understood."""
    path = os.path.join(model_dir, "jd.cfg")
    sections = []
    try:
        with open(path) as f:
            for line in f:
                line = line.split("#")[0].strip()
                if line.startswith("["):
                    sections.append((line.strip("[]"), {}))
                elif "=" in line and sections:
                    key, _, value = line.partition("=")
                    sections[-1][1][key.strip()] = value.strip()
    except OSError as e:
        sys.exit(f"cannot read {path}: {e.strerror}")
    if not sections or sections[0][0] != "net":
        sys.exit(f"{path}: no [net] section")
    net = sections[0][1]
    try:
        size = (int(net["width"]), int(net["height"]))
    except (KeyError, ValueError):
        sys.exit(f"{path}: [net] has no width and height")
    if min(size) < TILE or size[0] % 32 or size[1] % 32:
        sys.exit(f"{path}: input {size[0]} x {size[1]}: this trainer takes multiples of 32 from {TILE} up")
    layers, anchors = [], ANCHORS
    for name, kv in sections[1:]:
        if name == "convolutional" and kv.get("activation") == "linear":
            layers.append(("head",))
        elif name == "convolutional":
            if kv.get("batch_normalize", "0") != "0":
                sys.exit(f"{path}: batch norm not folded into the convolutions; this trainer reads only its own exports")
            f, k, st = int(kv["filters"]), int(kv.get("size", 1)), int(kv.get("stride", 1))
            pad = k // 2 if kv.get("pad", "0") == "1" else int(kv.get("padding", 0))
            layers.append(("conv", f, k, st) if pad == k // 2 else ("conv", f, k, st, pad))
        elif name == "upsample":
            layers.append(("upsample",))
        elif name == "route":
            layers.append(("route", *[int(v) for v in kv["layers"].split(",")]))
        elif name == "yolo":
            values = [int(float(v)) for v in kv["anchors"].split(",")]
            anchors = list(zip(values[0::2], values[1::2]))
            layers.append(("yolo",))
        else:
            sys.exit(f"{path}: [{name}] is a layer this trainer does not know")
    return layers, size, anchors


def labelled_pictures(dirs):
    """(picture, label file) of every picture in DIRS with a label file beside it, by name;
    and how many pictures had none."""
    pairs, unlabelled = [], 0
    for d in dirs:
        if not os.path.isdir(d):
            sys.exit(f"{d}: no such folder")
        for name in sorted(os.listdir(d)):
            stem, ext = os.path.splitext(name)
            if ext.lower() not in PICTURE_TYPES:
                continue
            label = os.path.join(d, stem + ".txt")
            if os.path.exists(label):
                pairs.append((os.path.join(d, name), label))
            else:
                unlabelled += 1
    return pairs, unlabelled


def load_pictures(pairs):
    images, labels = [], []
    for picture, label in pairs:
        im = cv2.imread(picture, cv2.IMREAD_COLOR)
        if im is None:
            sys.exit(f"cannot read {picture}")
        images.append(cv2.resize(im, INPUT, interpolation=cv2.INTER_LINEAR))
        with open(label) as f:
            try:
                labels.append(label_rows(f))
            except ValueError:
                sys.exit(f"{label}: not YOLO labels (class cx cy w h per line, 0 to 1)")
    return images, labels


def adapt(args):
    """Fine-tunes an installed model on a plant's own labelled pictures (--data), with every
    other tile from pictures of the boxes it already knows (--keep), so that it learns the new
    look without forgetting the old. Every fifth picture, by name, is held out for evaluation."""
    global LAYERS, INPUT, ANCHORS
    LAYERS, INPUT, ANCHORS = read_cfg(args.model)
    pairs, unlabelled = labelled_pictures(args.data.split(","))
    if unlabelled:
        print(f"{unlabelled} pictures without a label file are left out", flush=True)
    held_out = [p for i, p in enumerate(pairs) if args.held_out and i % 5 == 4]
    pairs = [p for i, p in enumerate(pairs) if not (args.held_out and i % 5 == 4)]
    if not pairs:
        sys.exit(f"no labelled pictures to learn from in {args.data}")
    if held_out:
        out = os.path.join(args.work, "held-out")
        os.makedirs(out, exist_ok=True)
        with open(os.path.join(out, "names.txt"), "w") as names:
            for i, (picture, label) in enumerate(held_out):
                stem = os.path.join(out, f"pic_{i:06d}")
                ext = os.path.splitext(picture)[1].lower()
                shutil.copyfile(picture, stem + (".jpg" if ext == ".jpeg" else ext))
                shutil.copyfile(label, stem + ".txt")
                names.write(f"pic_{i:06d} {picture}\n")
    print(f"learning from {len(pairs)} pictures, {len(held_out)} held out; input {INPUT[0]} x {INPUT[1]}", flush=True)
    images, labels = load_pictures(pairs)
    keep = load_set(args.keep.split(",")) if args.keep else None
    if keep:
        print(f"and every other tile from {len(keep[0])} pictures of the boxes it knows", flush=True)
    args.init = args.model
    train(args, images, labels, keep)
    # The new model goes into a station folder of its own, beside the installed one's warm-up
    # picture, for gluegen_eval and the station's self-check to judge before it is installed.
    station = os.path.join(args.work, "station")
    args.out = os.path.join(station, "model")
    export(args)
    warm_up = os.path.join(os.path.dirname(os.path.abspath(args.model)), "bin", "alg_jd.jpg")
    if os.path.exists(warm_up):
        os.makedirs(os.path.join(station, "bin"), exist_ok=True)
        shutil.copyfile(warm_up, os.path.join(station, "bin", "alg_jd.jpg"))
        args.image = warm_up
        if check(args):
            sys.exit("the exported model does not compute what was trained")
    print(f"next: gluegen_eval -s {args.work}/misses.png {station} {args.work}/held-out")
    print(f"then: install-model.sh {args.out} STATION_DIR")


def make_batch(images, labels, rng, keep=None):
    """Tiles with their dots: (kept, cut). A dot the tile's edge cuts through teaches nothing
    either way, so it is neither a dot to find nor background; otherwise the network learns
    that half a blob at an edge is glue, and takes print cut by the picture's edge for it.
    With `keep` (images, labels), every other tile comes from it however few `images` are."""
    xs, boxes = [], []
    for t in range(BATCH):
        source_images, source_labels = keep if keep and t % 2 else (images, labels)
        k = rng.integers(len(source_images))
        im = source_images[k]
        if im.ndim == 2:
            im = cv2.cvtColor(im, cv2.COLOR_GRAY2BGR)
        if INPUT[0] == INPUT[1]:  # the draw the shipped model was trained with, kept so that it remakes alike
            x0, y0 = rng.integers(0, INPUT[0] - TILE + 1, size=2)
        else:
            x0, y0 = rng.integers(0, INPUT[0] - TILE + 1), rng.integers(0, INPUT[1] - TILE + 1)
        tile = im[y0:y0 + TILE, x0:x0 + TILE, ::-1].astype(np.float32) / 255.0  # RGB, as swapRB
        b = source_labels[k].copy()
        b[:, 0] -= x0
        b[:, 1] -= y0
        # Kept when at most a quarter of the box lies outside; cut when less but some shows.
        lo = b[:, :2] - b[:, 2:] / 4
        hi = b[:, :2] + b[:, 2:] / 4
        kept = np.all((lo >= 0) & (hi <= TILE), 1)
        shows = np.all((b[:, :2] + b[:, 2:] / 2 > 0) & (b[:, :2] - b[:, 2:] / 2 < TILE), 1)
        b, cut = b[kept], b[shows & ~kept]
        if rng.random() < 0.5:
            tile = tile[:, ::-1]
            b[:, 0] = TILE - b[:, 0]
            cut[:, 0] = TILE - cut[:, 0]
        if rng.random() < 0.5:
            tile = tile[::-1, :]
            b[:, 1] = TILE - b[:, 1]
            cut[:, 1] = TILE - cut[:, 1]
        gain = rng.uniform(0.8, 1.2)
        tile = np.clip(tile * gain + rng.uniform(-0.08, 0.08), 0, 1)
        xs.append(np.ascontiguousarray(tile.transpose(2, 0, 1)))
        boxes.append((b, cut))
    return torch.from_numpy(np.stack(xs)), boxes


def box_iou(a, b):
    """IoU of cx,cy,w,h boxes, broadcast."""
    ax0, ay0, ax1, ay1 = a[..., 0] - a[..., 2] / 2, a[..., 1] - a[..., 3] / 2, a[..., 0] + a[..., 2] / 2, a[..., 1] + a[..., 3] / 2
    bx0, by0, bx1, by1 = b[..., 0] - b[..., 2] / 2, b[..., 1] - b[..., 3] / 2, b[..., 0] + b[..., 2] / 2, b[..., 1] + b[..., 3] / 2
    iw = (torch.min(ax1, bx1) - torch.max(ax0, bx0)).clamp(min=0)
    ih = (torch.min(ay1, by1) - torch.max(ay0, by0)).clamp(min=0)
    inter = iw * ih
    return inter / (a[..., 2] * a[..., 3] + b[..., 2] * b[..., 3] - inter + 1e-9)


def yolo_loss(raw, boxes):
    B, _, H, W = raw.shape
    A = len(ANCHORS)
    p = raw.view(B, A, 5 + len(CLASSES), H, W).permute(0, 1, 3, 4, 2)  # B A H W 6
    anchors = torch.tensor(ANCHORS, dtype=torch.float32)
    gy, gx = torch.meshgrid(torch.arange(H), torch.arange(W), indexing="ij")
    with torch.no_grad():
        pred = torch.stack([
            (gx + torch.sigmoid(p[..., 0])) * STRIDE,
            (gy + torch.sigmoid(p[..., 1])) * STRIDE,
            torch.exp(p[..., 2].clamp(max=6)) * anchors[:, 0].view(1, A, 1, 1),
            torch.exp(p[..., 3].clamp(max=6)) * anchors[:, 1].view(1, A, 1, 1)], -1)
    obj_target = torch.zeros(B, A, H, W)
    obj_weight = torch.ones(B, A, H, W)
    loss_box = raw.new_zeros(())
    loss_cls = raw.new_zeros(())
    n_pos = 0
    for b, (gt, cut) in enumerate(boxes):
        for cx, cy, w, h in cut:
            x0 = max(0, int((cx - w / 2) // STRIDE))
            y0 = max(0, int((cy - h / 2) // STRIDE))
            obj_weight[b, :, y0:int((cy + h / 2) // STRIDE) + 1, x0:int((cx + w / 2) // STRIDE) + 1] = 0
        if len(gt) == 0:
            continue
        g = torch.from_numpy(gt)
        # Predictions that already cover a dot well are not punished as background.
        ious = box_iou(pred[b].unsqueeze(-2), g.view(1, 1, 1, -1, 4)).amax(-1)
        obj_weight[b][ious > 0.5] = 0
        inter = torch.min(g[:, None, 2], anchors[None, :, 0]) * torch.min(g[:, None, 3], anchors[None, :, 1])
        wh_iou = inter / (g[:, None, 2] * g[:, None, 3] + anchors[None, :, 0] * anchors[None, :, 1] - inter)
        best = wh_iou.argmax(1)
        gi = (g[:, 0] / STRIDE).long().clamp(0, W - 1)
        gj = (g[:, 1] / STRIDE).long().clamp(0, H - 1)
        for t in range(len(g)):
            a, i, j = best[t].item(), gi[t].item(), gj[t].item()
            cell = p[b, a, j, i]
            tx = g[t, 0] / STRIDE - i
            ty = g[t, 1] / STRIDE - j
            tw = torch.log(g[t, 2] / anchors[a, 0])
            th = torch.log(g[t, 3] / anchors[a, 1])
            loss_box = loss_box + F.binary_cross_entropy_with_logits(cell[:2], torch.stack([tx, ty]), reduction="sum")
            loss_box = loss_box + ((cell[2] - tw) ** 2 + (cell[3] - th) ** 2)
            loss_cls = loss_cls + F.binary_cross_entropy_with_logits(cell[5:], torch.ones(len(CLASSES)), reduction="sum")
            obj_target[b, a, j, i] = 1
            obj_weight[b, a, j, i] = 1
            n_pos += 1
    loss_obj = F.binary_cross_entropy_with_logits(p[..., 4], obj_target, weight=obj_weight, reduction="sum")
    total = (2.0 * loss_box + loss_cls + loss_obj) / B
    return total, n_pos


def train(args, images=None, labels=None, keep=None):
    """Trains on `images` (or the --data folders), with every other tile from `keep` when given."""
    torch.manual_seed(SEED)
    torch.set_num_threads(args.threads)
    t0 = time.time()
    if images is None:
        images, labels = load_set(args.data.split(","))
    print(f"loaded {len(images)} pictures in {time.time() - t0:.0f} s", flush=True)
    os.makedirs(args.work, exist_ok=True)
    net = Net()
    opt = torch.optim.AdamW(net.parameters(), lr=args.lr, weight_decay=5e-4)
    step, spent = 0, 0.0
    ckpt = os.path.join(args.work, "checkpoint.pt")
    held = False
    if not os.path.exists(ckpt) and args.init:
        if os.path.isdir(args.init):
            load_darknet(net, args.init)
            held = True
        else:
            net.load_state_dict(torch.load(args.init)["net"])
        print(f"starting from the weights of {args.init}", flush=True)
    if os.path.exists(ckpt):
        state = torch.load(ckpt)
        net.load_state_dict(state["net"])
        opt.load_state_dict(state["opt"])
        step, spent = state["step"], state.get("seconds", 0.0)
        held = state.get("held", False)
        print(f"resumed at step {step} ({spent / 60:.1f} min spent)", flush=True)
    # Each step's batch depends only on the seed and the step, so a resumed run goes on alike.
    net.train()
    if held:
        hold_batch_norm(net)
    first_step, first_spent = step, spent
    running, t_last = 0.0, time.time()
    stop = min(args.steps, args.stop_at) if args.stop_at else args.steps
    while step < stop:
        rng = np.random.default_rng([SEED, step])
        # Warm-up, then cosine decay to 2 % over the planned steps.
        lr = args.lr * min(1.0, (step + 1) / 300) * (0.02 + 0.98 * 0.5 * (1 + math.cos(math.pi * step / args.steps)))
        for group in opt.param_groups:
            group["lr"] = lr
        x, boxes = make_batch(images, labels, rng, keep)
        loss, _ = yolo_loss(net(x), boxes)
        opt.zero_grad()
        loss.backward()
        opt.step()
        step += 1
        running = 0.98 * running + 0.02 * loss.item() if step > 1 else loss.item()
        if step % 50 == 0 or step == stop or step < 4:
            now = time.time()
            spent += now - t_last
            t_last = now
            left = ""
            if step - first_step >= 50:
                per_step = (spent - first_spent) / (step - first_step)
                left = f", about {per_step * (stop - step) / 60:.0f} min left"
            print(f"step {step} of {stop} loss {running:.3f} lr {lr:.5f} {spent / 60:.1f} min{left}", flush=True)
            if step % 200 == 0 or step == stop or step < 4:
                torch.save({"net": net.state_dict(), "opt": opt.state_dict(), "step": step, "seconds": spent,
                            "held": held, "layers": LAYERS, "input": INPUT, "anchors": ANCHORS}, ckpt + ".tmp")
                os.replace(ckpt + ".tmp", ckpt)


def cfg_text():
    lines = ["[net]", "batch=1", "subdivisions=1", f"width={INPUT[0]}", f"height={INPUT[1]}", "channels=3", ""]
    for layer in LAYERS:
        if layer[0] == "conv":
            _, f, k, s = layer[:4]
            # Darknet's pad=1 means half the size; otherwise padding= gives it (0 by default).
            p = conv_pad(layer)
            pad = ["pad=1"] if k > 1 and p == k // 2 else ["pad=0"] + ([f"padding={p}"] if p else [])
            lines += ["[convolutional]", "batch_normalize=0", f"filters={f}", f"size={k}", f"stride={s}",
                      *pad, "activation=leaky", ""]
        elif layer[0] == "head":
            lines += ["[convolutional]", "size=1", "stride=1", "pad=0",
                      f"filters={len(ANCHORS) * (5 + len(CLASSES))}", "activation=linear", ""]
        elif layer[0] == "upsample":
            lines += ["[upsample]", "stride=2", ""]
        elif layer[0] == "route":
            lines += ["[route]", "layers=" + ",".join(str(i) for i in layer[1:]), ""]
        elif layer[0] == "yolo":
            anchors = ",".join(f"{w},{h}" for w, h in ANCHORS)
            lines += ["[yolo]", "mask=" + ",".join(str(i) for i in range(len(ANCHORS))), f"anchors={anchors}",
                      f"classes={len(CLASSES)}", f"num={len(ANCHORS)}", "jitter=0", "ignore_thresh=.5",
                      "truth_thresh=1", "random=0", f"thresh={YOLO_THRESH}", ""]
    return "\n".join(lines)


def load_checkpoint(work):
    """A run's last checkpoint; LAYERS, INPUT and ANCHORS become the network it was trained as."""
    global LAYERS, INPUT, ANCHORS
    state = torch.load(os.path.join(work, "checkpoint.pt"))
    LAYERS = [tuple(layer) for layer in state.get("layers", LAYERS)]
    INPUT = tuple(state.get("input", INPUT))
    ANCHORS = [tuple(a) for a in state.get("anchors", ANCHORS)]
    return state


def export(args):
    state = load_checkpoint(args.work)
    net = Net()
    net.load_state_dict(state["net"])
    net.eval()
    os.makedirs(args.out, exist_ok=True)
    with open(os.path.join(args.out, "jd.cfg"), "w") as f:
        f.write(cfg_text())
    with open(os.path.join(args.out, "jd.names"), "w") as f:
        f.write("".join(name + "\n" for name in CLASSES))
    with open(os.path.join(args.out, "jd.weights"), "wb") as f:
        f.write(struct.pack("<iiiq", 0, 2, 0, state["step"] * BATCH))  # major, minor, revision, seen
        for layer, block in zip(LAYERS, net.blocks):
            if layer[0] == "conv":
                conv, bn = block[0], block[1]
                scale = bn.weight / torch.sqrt(bn.running_var + bn.eps)
                w = conv.weight * scale.view(-1, 1, 1, 1)
                b = bn.bias - bn.running_mean * scale
            elif layer[0] == "head":
                w, b = block.weight, block.bias
            else:
                continue
            f.write(b.detach().numpy().astype("<f4").tobytes())
            f.write(w.detach().numpy().astype("<f4").tobytes())
    print(f"wrote {args.out} from step {state['step']}")


def check(args):
    """Runs one picture through OpenCV's Darknet reader and through PyTorch; prints the gap."""
    net = cv2.dnn.readNetFromDarknet(os.path.join(args.out, "jd.cfg"), os.path.join(args.out, "jd.weights"))
    im = cv2.imread(args.image, cv2.IMREAD_COLOR)
    blob = cv2.dnn.blobFromImage(im, 1 / 255.0, INPUT, (0, 0, 0), True, False)
    net.setInput(blob)
    out = net.forward(net.getUnconnectedOutLayersNames())[0]
    state = load_checkpoint(args.work)
    tnet = Net()
    tnet.load_state_dict(state["net"])
    tnet.eval()
    with torch.no_grad():
        raw = tnet(torch.from_numpy(blob))
    A, H, W = len(ANCHORS), raw.shape[2], raw.shape[3]
    p = raw.view(1, A, 5 + len(CLASSES), H, W).permute(0, 3, 4, 1, 2).reshape(-1, 5 + len(CLASSES))  # rows: y, x, a
    gy, gx, ga = np.meshgrid(np.arange(H), np.arange(W), np.arange(A), indexing="ij")
    anchors = np.array(ANCHORS, dtype=np.float32)
    s = torch.sigmoid(p).numpy()
    mine = np.zeros_like(out)
    mine[:, 0] = (gx.ravel() + s[:, 0]) / W
    mine[:, 1] = (gy.ravel() + s[:, 1]) / H
    mine[:, 2] = np.exp(p[:, 2].numpy()) * anchors[ga.ravel(), 0] / INPUT[0]
    mine[:, 3] = np.exp(p[:, 3].numpy()) * anchors[ga.ravel(), 1] / INPUT[1]
    mine[:, 4] = s[:, 4]
    score = s[:, 5:] * s[:, 4:5]
    mine[:, 5:] = np.where(score > YOLO_THRESH, score, 0)
    gap = np.abs(mine - out).max()
    print(f"OpenCV output {out.shape}, largest difference to PyTorch {gap:.2e}, "
          f"rows over 0.1: OpenCV {(out[:, 5:].max(1) > 0.1).sum()}, PyTorch {(mine[:, 5:].max(1) > 0.1).sum()}")
    return 0 if gap < 1e-3 else 1


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("mode", choices=["train", "adapt", "export", "check"])
    ap.add_argument("--data")
    ap.add_argument("--work")
    ap.add_argument("--out")
    ap.add_argument("--image")
    ap.add_argument("--steps", type=int, help="steps of the schedule (train: 4000, adapt: 1500)")
    ap.add_argument("--threads", type=int, default=2)
    ap.add_argument("--lr", type=float, help=f"peak learning rate (train: {LR}, adapt: {ADAPT_LR})")
    ap.add_argument("--init", help="checkpoint or Darknet model folder whose weights a new run starts from")
    ap.add_argument("--stop-at", type=int, default=0, help="end at this step (the schedule still spans --steps)")
    ap.add_argument("--width", type=float, default=1.0, help="train: the layers from the 52 x 52 map this many times as wide")
    ap.add_argument("--patch", action="store_true", help="train: the network with a 4 x 4 patch stem")
    ap.add_argument("--deep", action="store_true", help="train: a network of about 3.4 times the work, to measure capacity")
    ap.add_argument("--input", help="train: the network's input WxH (multiples of 32; default 416x416), the anchors "
                    "scaled with it so that they keep their size in the picture")
    ap.add_argument("--model", default=os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "station", "model"),
                    help="adapt: the installed model folder to start from")
    ap.add_argument("--keep", help="adapt: DIR[:N][,...] of gluegen-style pictures of the boxes the model already knows")
    ap.add_argument("--held-out", type=int, choices=[0, 1], default=1, help="adapt: hold every fifth picture out (1) or not (0)")
    args = ap.parse_args()
    if args.steps is None:
        args.steps = ADAPT_STEPS if args.mode == "adapt" else 4000
    if args.lr is None:
        args.lr = ADAPT_LR if args.mode == "adapt" else LR
    if args.mode == "train":
        global LAYERS
        if (args.patch + args.deep + (args.width != 1)) > 1:
            sys.exit("--patch, --deep and --width do not go together")
        LAYERS = PATCH_LAYERS if args.patch else DEEP_LAYERS if args.deep else widened(args.width)
        if args.input:
            set_input(args.input)
        train(args)
    elif args.mode == "adapt":
        if not args.data or not args.work:
            sys.exit("adapt needs --data DIR and --work DIR")
        adapt(args)
    elif args.mode == "export":
        export(args)
    else:
        sys.exit(check(args))


if __name__ == "__main__":
    main()

// Independent PSD reader and writer for the tests (ag-psd).
//   node psd-tool.js dump IN.psd OUTDIR   writes OUTDIR/info.txt, composite.rgba, layerN.rgba
//   node psd-tool.js make OUTDIR          writes the fixture documents into OUTDIR
//   node psd-tool.js tree IN.psd          prints the layer tree, bottom first, one
//                                         record a line indented by depth:
//                                         "layer|open|closed HIDDEN NAME" (HIDDEN: its own flag)
// info.txt: "canvas W H", "layers N", then per layer, bottom first, groups
// flattened: "layer LEFT TOP RIGHT BOTTOM HIDDEN OPACITY NAME" (HIDDEN also
// when an enclosing group is hidden; OPACITY 0..255).
'use strict';
const fs = require('fs');
const path = require('path');
const ag = require('ag-psd');

// Raw pixel arrays only; no canvas in this process.
ag.initializeCanvas(
    () => { throw new Error('no canvas'); },
    (width, height) => ({ width, height, data: new Uint8ClampedArray(width * height * 4) }));

function flatten(children, hiddenAbove, out) {
    for (const layer of children || []) {
        const hidden = hiddenAbove || !!layer.hidden;
        if (layer.children) {
            flatten(layer.children, hidden, out);
            continue;
        }
        out.push({ layer, hidden });
    }
    return out;
}

function dump(input, outDir) {
    const psd = ag.readPsd(fs.readFileSync(input), { useImageData: true, skipThumbnail: true });
    fs.mkdirSync(outDir, { recursive: true });
    const lines = [`canvas ${psd.width} ${psd.height}`];
    const layers = flatten(psd.children, false, []);
    lines.push(`layers ${layers.length}`);
    layers.forEach(({ layer, hidden }, i) => {
        const opacity = Math.round((layer.opacity === undefined ? 1 : layer.opacity) * 255);
        lines.push(`layer ${layer.left | 0} ${layer.top | 0} ${layer.right | 0} ${layer.bottom | 0} ` +
            `${hidden ? 1 : 0} ${opacity} ${layer.name || ''}`);
        const data = layer.imageData ? Buffer.from(layer.imageData.data.buffer) : Buffer.alloc(0);
        fs.writeFileSync(path.join(outDir, `layer${i}.rgba`), data);
    });
    if (psd.imageData) fs.writeFileSync(path.join(outDir, 'composite.rgba'), Buffer.from(psd.imageData.data.buffer));
    fs.writeFileSync(path.join(outDir, 'info.txt'), lines.join('\n') + '\n');
}

function tree(input) {
    const psd = ag.readPsd(fs.readFileSync(input), { skipLayerImageData: true, skipCompositeImageData: true, skipThumbnail: true });
    const lines = [];
    const walk = (children, depth) => {
        for (const layer of children || []) {
            const kind = layer.children ? (layer.opened ? 'open' : 'closed') : 'layer';
            lines.push(`${'  '.repeat(depth)}${kind} ${layer.hidden ? 1 : 0} ${layer.name || ''}`);
            if (layer.children) walk(layer.children, depth + 1);
        }
    };
    walk(psd.children, 0);
    process.stdout.write(lines.join('\n') + '\n');
}

// A w x h picture; fn(x, y) gives [r, g, b, a].
function picture(w, h, fn) {
    const data = new Uint8ClampedArray(w * h * 4);
    for (let y = 0; y < h; y++)
        for (let x = 0; x < w; x++) data.set(fn(x, y), 4 * (y * w + x));
    return { width: w, height: h, data };
}

function make(outDir) {
    fs.mkdirSync(outDir, { recursive: true });
    const W = 24, H = 16;
    // A sprite: a filled disc with a hard (stair-stepped) edge.
    const disc = (cx, cy, r, colour) => (x, y) =>
        (x - cx) * (x - cx) + (y - cy) * (y - cy) <= r * r ? colour : [0, 0, 0, 0];
    const layered = {
        width: W, height: H,
        imageData: picture(W, H, (x, y) => [200, 100 + x, 50 + y, 255]),
        children: [
            { name: 'background', left: 0, top: 0, imageData: picture(W, H, (x, y) => [200, 100 + x, 50 + y, 255]) },
            {
                name: 'hidden group', hidden: true, opened: true, children: [
                    { name: 'inside hidden group', left: 2, top: 2, imageData: picture(8, 6, disc(4, 3, 3, [0, 255, 0, 255])) },
                ],
            },
            {
                name: 'shown group', opened: false, children: [
                    { name: 'half opacity', opacity: 128 / 255, left: 10, top: 4, imageData: picture(10, 10, disc(5, 5, 4, [255, 0, 0, 255])) },
                    { name: 'hidden layer', hidden: true, left: 1, top: 8, imageData: picture(6, 6, disc(3, 3, 2, [0, 0, 255, 255])) },
                ],
            },
            { name: 'スプライト 名前', left: -4, top: 9, imageData: picture(12, 10, disc(6, 5, 5, [255, 255, 0, 255])) },
        ],
    };
    fs.writeFileSync(path.join(outDir, 'layered.psd'), ag.writePsdBuffer(layered));

    // Groups in groups: a hidden closed one inside an open one, holding a
    // layer shown itself and a hidden one.
    const sprite = (colour) => picture(6, 6, disc(3, 3, 2, colour));
    fs.writeFileSync(path.join(outDir, 'nested.psd'), ag.writePsdBuffer({
        width: W, height: H,
        imageData: picture(W, H, () => [90, 90, 90, 255]),
        children: [
            { name: 'ground', left: 0, top: 0, imageData: picture(W, H, () => [90, 90, 90, 255]) },
            {
                name: 'outer', opened: true, children: [
                    { name: 'a', left: 1, top: 1, imageData: sprite([255, 0, 0, 255]) },
                    {
                        name: 'inner グループ', hidden: true, opened: false, children: [
                            { name: 'b', left: 8, top: 2, imageData: sprite([0, 255, 0, 255]) },
                            { name: 'c', hidden: true, left: 12, top: 6, imageData: sprite([0, 0, 255, 255]) },
                        ],
                    },
                    { name: 'd', left: 16, top: 8, imageData: sprite([255, 255, 0, 255]) },
                ],
            },
            { name: 'top', left: 4, top: 9, imageData: sprite([0, 255, 255, 255]) },
        ],
    }));

    // Partly transparent composite (stored matted on white by this writer).
    const soft = picture(8, 4, (x, y) => [40 * y, 30 * x, 128, 32 * x + 10]);
    fs.writeFileSync(path.join(outDir, 'soft.psd'), ag.writePsdBuffer({
        width: 8, height: 4, imageData: soft,
        children: [{ name: 'soft', left: 0, top: 0, imageData: soft }],
    }));
}

const [command, a, b] = process.argv.slice(2);
if (command === 'dump' && a && b) dump(a, b);
else if (command === 'make' && a) make(a);
else if (command === 'tree' && a) tree(a);
else {
    console.error('usage: psd-tool.js dump IN.psd OUTDIR | make OUTDIR | tree IN.psd');
    process.exit(2);
}

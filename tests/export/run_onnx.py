"""Runs an exported ONNX model as a program outside Trelis would.

    run_onnx.py MODEL INPUTS ROWS OUTPUTS

Checks the model with ONNX's own checker (shape inference included), then
runs ROWS rows of float32 inputs (raw, row after row) through OpenCV's DNN
module and writes its outputs as raw float32. Prints what the model says of
itself as JSON: opset, format version, inputs and outputs with their shapes,
and the metadata.
"""
import json
import sys

import cv2
import numpy as np
import onnx


def shape(value):
    dims = value.type.tensor_type.shape.dim
    return [d.dim_param if d.dim_param else d.dim_value for d in dims]


def main(model_path, inputs_path, rows, outputs_path):
    model = onnx.load(model_path)
    onnx.checker.check_model(model, full_check=True)
    rows = int(rows)
    x = np.fromfile(inputs_path, dtype=np.float32).reshape(rows, -1)
    net = cv2.dnn.readNetFromONNX(model_path)
    net.setInput(x)
    net.forward().astype(np.float32).tofile(outputs_path)
    print(json.dumps({
        "ir_version": model.ir_version,
        "opset": [o.version for o in model.opset_import if o.domain in ("", "ai.onnx")],
        "inputs": [[v.name, shape(v)] for v in model.graph.input],
        "outputs": [[v.name, shape(v)] for v in model.graph.output],
        "operators": sorted({n.op_type for n in model.graph.node}),
        "metadata": {p.key: p.value for p in model.metadata_props},
    }))


if __name__ == "__main__":
    main(*sys.argv[1:])

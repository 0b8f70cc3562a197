#pragma once
// A trained network written for programs outside Trelis, in one of three
// forms chosen by the file's extension:
//   .onnx  an ONNX model (opset 13) that any ONNX runtime runs;
//   .net   FANN's own network file, read by fann_create_from_file;
//   .h     one self-contained C99 header with trelis_forward().
// Each reproduces the network's forward pass: a pattern network takes the
// retina's cells (0 or 1, row by row) and gives the output layer's values;
// a series network takes a window in the units of the series file and gives
// the next value in those units, the scaling to 0..1 and back included
// (FANN keeps it as its input and output scaling parameters).
// Plain C++, no Qt; files are written through the project's atomic writer.

#include "project/Project.h"

#include <optional>
#include <string>

enum class TExportFormat {
    Onnx,    // .onnx
    Fann,    // .net
    CHeader, // .h
};

// The format a file name's extension names (in any case); none for any
// other extension or none at all.
std::optional<TExportFormat> ExportFormatOf(const std::string& path);

// The save dialog's filter, one entry per format, and the extension a name
// without one takes.
inline constexpr const char* NetworkExportFilter = "Модель ONNX|*.onnx|Сеть FANN|*.net|Заголовок C|*.h";
inline constexpr const char* NetworkExportExtension = "onnx";

enum class TExportOutcome {
    Written,       // the file is in place
    UnknownFormat, // the extension names none of the formats
    Refused,       // the network cannot be written in that form, or the file not written
};

struct TExportResult {
    TExportOutcome outcome = TExportOutcome::Written;
    std::string reason; // empty when written; else a Russian sentence that names the file
    bool Ok() const { return outcome == TExportOutcome::Written; }
};

// Why the project has no network worth exporting: none at all, only the
// one-input placeholder the program starts with, an activation no format
// reproduces (a slope not above 0) or a series without a range. Empty when
// it has one. Looks at the sizes and settings only, not at every weight.
std::string NetworkExportRefusal(const TProjectState& project);

// Writes the project's network to `path` (a path for the C library) in the
// form its extension names. Nothing is written when the result is not Ok.
TExportResult ExportNetwork(const TProjectState& project, const std::string& path);

#pragma once
// The project file: the whole TProjectState as one JSON document (see
// docs/project-format.md). Every float is stored bit for bit, so that an
// opened project trains on exactly as the saved one would have. Written by
// ProjectFileWriter.cpp, read by ProjectFileReader.cpp.

#include "images/PatternRing.h"
#include "project/AtomicFile.h"
#include "project/ProjectState.h"

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

// The file dialogs' filter ("description|pattern") and the default extension.
inline constexpr const char* ProjectFileFilter = "Проект Trelis|*.trelis";
inline constexpr const char* ProjectFileExtension = "trelis";

// The document's "format" tag and the version this program writes; files of
// a later version are refused.
inline constexpr const char* ProjectFileFormat = "trelis-project";
inline constexpr std::int64_t ProjectFileVersion = 1;

// The largest file opened: checked before anything is read.
inline constexpr std::uint64_t MaxProjectFileBytes = std::uint64_t{1} << 30;
// The most layers a network in a file may have.
inline constexpr std::uint32_t MaxLayerCount = 16;
// The most neurons of a layer: the widest hidden or output layer.
inline constexpr std::uint32_t MaxNeuronCount = static_cast<std::uint32_t>(std::max(MaxClassCount, MaxHiddenCount));
// The most weights of a network in a file: a pattern network's limit, or the
// series network (n inputs, 2 hidden, 1 output) of the widest window.
inline constexpr std::uint64_t MaxNetworkWeightCount =
    std::max(MaxWeightCount, 2 * (std::uint64_t{PatternRing::MaxDimension} + 1) + 3);
// The most sequence elements: more than the series windows a full load may
// cut (MaxSeriesWindowBytes of them), yet few enough that their bookkeeping
// fits in memory.
inline constexpr std::uint32_t MaxSequenceCount = 1u << 23;

// Writes the whole state to `path` (a path for the C library); empty on
// success, otherwise the reason in Russian. The text is streamed to the file
// through a buffer of a fixed size by the one atomic writer (AtomicFile.h):
// a failed or interrupted save never leaves a half file in place of the old
// one. A state the file could not hold within the limits above is refused,
// so what saves also opens.
// Files given `alongside` are written together with the project: all new or
// all old (SaveFilesTogether).
std::string SaveProjectFile(const TProjectState& state, const std::string& path,
                            const std::vector<TFileToWrite>& alongside = {});

// Reads and checks the whole file into `out` (a default-constructed state);
// empty on success, otherwise the reason in Russian, naming the file. Every
// member is checked before anything is built, and the long blocks are
// decoded from the file straight into place, so opening takes about the
// memory of the opened state. The state is built aside and swapped into
// `out` only on success, so a refused file leaves `out` as it was.
std::string OpenProjectFile(const std::string& path, TProjectState& out);

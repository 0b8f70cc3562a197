#pragma once
// What every project file must do, shared by the project-file fuzz targets:
// opening either refuses with a reason, leaving the state alone, or opens a
// state that saves and opens back the same, to the same bytes.

#include "FuzzFile.h"
#include "project/ProjectFile.h"
#include "tests/project/StateDifference.h"

#include <vector>

inline void CheckProjectFile(const std::string& input)
{
    static const std::string output = ScratchFile("-out.trelis");
    static const std::string again = ScratchFile("-again.trelis");
    TProjectState state;
    state.classNames = {"marker"};
    if (!OpenProjectFile(input, state).empty()) {
        if (state.classNames != std::vector<std::string>{"marker"} || state.net || state.sequence.GetCount() != 0)
            std::abort(); // a refused file must change nothing
        return;
    }
    if (!SaveProjectFile(state, output).empty())
        std::abort(); // what opens must save
    TProjectState reopened;
    if (!OpenProjectFile(output, reopened).empty() || !StateDifference(state, reopened).empty())
        std::abort(); // what was saved does not open the same
    if (!SaveProjectFile(reopened, again).empty() || ReadFile(again) != ReadFile(output))
        std::abort(); // the same state must save to the same bytes
}

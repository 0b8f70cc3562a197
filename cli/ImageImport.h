#pragma once
// A folder of pictures made into a training sequence: one subfolder per
// class, each picture turned black and white (cli/ImageFile.h), the box of
// all its figure cells cut out and scaled onto a square retina exactly as
// the retina view's ">>" cuts a figure out (SampleFigure, project/Figures.h).

#include "images/Images.h"
#include "images/PatternRing.h"
#include "project/Project.h"

#include <QImage>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// One class: a subfolder of the imported folder.
struct TImportClass {
    std::string name;                // the subfolder's name, as its bytes are on disk (UTF-8)
    std::vector<std::string> files;  // paths of its files, by name
    std::uint32_t imported = 0;      // pictures that became elements
    std::uint32_t skipped = 0;       // pictures that did not, and the other files
};

// Lists the folder: every subfolder (a link to a folder counts) whose name
// does not start with '.' is a class, the classes in the byte order of their
// names. In each, every file (a link to a file counts) whose name does not
// start with '.' is one of its files, in the byte order of the names;
// subfolders of a class and hidden files are left out, as are files lying
// in the folder itself. Empty on success,
// otherwise the refusal in Russian, naming the folder: it cannot be read,
// holds no class folder, or more than maxClasses of them (as many as a
// project may have classes, unless a test asks for fewer).
std::string ListImageFolder(const std::string& folder, std::vector<TImportClass>& classes,
                            std::size_t maxClasses = MaxClassCount);

// The retina of one picture: `retina` becomes its width x height sample (with
// the bias byte) of the box of every figure cell. False, with `retina`
// undefined, when the picture has no figure pixel.
bool SamplePicture(const QImage& picture, std::uint32_t width, std::uint32_t height, TRectImage& retina,
                   TFigureFit fit = TFigureFit::Stretch);

// One picture file onto the retina (SamplePicture): empty when `retina`
// holds its sample, otherwise why the file is skipped, a clause: not a
// picture by its extension, unreadable, without a figure pixel, or too
// large for memory. Needs UseGuiToolkit() first.
std::string SamplePictureFile(const std::string& path, std::uint32_t width, std::uint32_t height, TRectImage& retina,
                              TFigureFit fit = TFigureFit::Stretch);

// The pictures lying in a folder itself (not in its subfolders), by the byte
// order of their names, hidden files left out. Empty on success, otherwise
// the refusal in Russian, naming the folder.
std::string ListPictures(const std::string& folder, std::vector<std::string>& files);

// What the import tells as it goes.
struct TImportReport {
    // A picture that was skipped, or another file, with the reason in
    // Russian (a clause).
    std::function<void(const std::string& path, const std::string& reason)> skipped;
    // After each file: how many of all the classes' files are done.
    std::function<void(std::uint64_t done, std::uint64_t total)> progress;
};

// Reads every file of every class in order whose extension names a picture
// (IsImageFileName; the other files are skipped unread) and adds its sample to
// `ring` (emptied first, Dimension side * side) with the class's number as
// its class. The elements lie in rounds, as the windows' sample sequence
// does: the first picture of each class in class order, then the second of
// each, and so on, a class that has run out passed over; saving the ring
// writes them in this order. Counts each class's imported and skipped files.
// Needs UseGuiToolkit() first; a picture that does not fit in memory is
// skipped, the ring not fitting throws std::bad_alloc.
void ImportImages(std::vector<TImportClass>& classes, std::uint32_t side, PatternRing& ring,
                  const TImportReport& report = {}, const std::vector<std::int32_t>& numbers = {},
                  TFigureFit fit = TFigureFit::Stretch);

// The class numbers of the folders when the names of an existing project
// (or of the names file beside its sequence) number them: a folder takes the
// number of the project's class of its name (compared as a names file
// stores them); the folders the project lacks follow its classes, in order.
// `names` becomes the project's names followed by those of the new folders,
// and `added` the new folders' names.
std::vector<std::int32_t> NumberByNames(const std::vector<TImportClass>& classes,
                                        const std::vector<std::string>& projectNames, std::vector<std::string>& names,
                                        std::vector<std::string>& added);

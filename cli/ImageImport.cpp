#include "cli/ImageImport.h"

#include "cli/ImageFile.h"
#include "project/Figures.h"
#include "project/Project.h"

#include "images/ClassNames.h"

#include <algorithm>
#include <filesystem>
#include <map>
#include <new>
#include <system_error>

namespace fs = std::filesystem;

namespace {

bool Hidden(const std::string& name)
{
    return name.empty() || name[0] == '.';
}

// The entries of a folder, by the byte order of their names; false when the
// folder cannot be listed.
bool SortedEntries(const fs::path& folder, std::vector<fs::directory_entry>& entries, std::error_code& error)
{
    entries.clear();
    fs::directory_iterator it(folder, error);
    if (error)
        return false;
    for (const fs::directory_iterator end; it != end; it.increment(error)) {
        if (error)
            return false;
        entries.push_back(*it);
    }
    if (error)
        return false;
    // std::string compares its bytes as unsigned characters.
    std::sort(entries.begin(), entries.end(), [](const fs::directory_entry& a, const fs::directory_entry& b) {
        return a.path().filename().string() < b.path().filename().string();
    });
    return true;
}

std::string FolderReason(const std::error_code& error)
{
    if (error == std::errc::no_such_file_or_directory)
        return "папка не найдена";
    if (error == std::errc::not_a_directory)
        return "это не папка";
    if (error == std::errc::permission_denied)
        return "нет прав на чтение";
    return "папку не удалось прочитать";
}

} // namespace

std::string ListImageFolder(const std::string& folder, std::vector<TImportClass>& classes, std::size_t maxClasses)
{
    classes.clear();
    const std::string shown = "папка «" + folder + "»";
    std::error_code error;
    const fs::file_status status = fs::status(folder, error);
    if (error || !fs::exists(status))
        return shown + ": " + FolderReason(error ? error : std::make_error_code(std::errc::no_such_file_or_directory));
    if (!fs::is_directory(status))
        return shown + ": " + FolderReason(std::make_error_code(std::errc::not_a_directory));
    std::vector<fs::directory_entry> entries;
    if (!SortedEntries(folder, entries, error))
        return shown + ": " + FolderReason(error);
    for (const fs::directory_entry& entry : entries) {
        const std::string name = entry.path().filename().string();
        std::error_code ignored;
        if (Hidden(name) || !entry.is_directory(ignored))
            continue;
        if (classes.size() >= maxClasses)
            return "в папке «" + folder + "» больше папок классов, чем может быть классов (" +
                   std::to_string(maxClasses) + ")";
        TImportClass imported;
        imported.name = name;
        std::vector<fs::directory_entry> files;
        if (!SortedEntries(entry.path(), files, error))
            return "папка класса «" + entry.path().string() + "»: " + FolderReason(error);
        for (const fs::directory_entry& file : files) {
            const std::string fileName = file.path().filename().string();
            if (Hidden(fileName) || file.is_directory(ignored))
                continue;
            imported.files.push_back(file.path().string());
        }
        classes.push_back(std::move(imported));
    }
    if (classes.empty())
        return "в папке «" + folder + "» нет папок классов (нужна отдельная папка с изображениями для каждого класса)";
    return {};
}

bool SamplePicture(const QImage& picture, std::uint32_t width, std::uint32_t height, TRectImage& retina,
                   TFigureFit fit)
{
    if (ReadFigureCells(picture, retina) == 0)
        return false;
    const std::optional<TFigureBox> box = FigureCellsBox(retina);
    SampleFigure(retina, *box, static_cast<std::int32_t>(width), static_cast<std::int32_t>(height), fit);
    return true;
}

std::string SamplePictureFile(const std::string& path, std::uint32_t width, std::uint32_t height, TRectImage& retina,
                              TFigureFit fit)
{
    if (!IsImageFileName(fs::path(path).filename().string()))
        return "по расширению это не изображение PNG, PGM, PBM, PPM, JPEG или BMP";
    const TImageFile file = ReadImageFile(path);
    if (!file.Ok())
        return ImageReadReason(file);
    try {
        if (!SamplePicture(file.image, width, height, retina, fit))
            return "на изображении нет ни одной точки фигуры (темнее середины серого)";
    } catch (const std::bad_alloc&) {
        return "изображение не помещается в памяти";
    }
    return {};
}

std::string ListPictures(const std::string& folder, std::vector<std::string>& files)
{
    files.clear();
    std::error_code error;
    std::vector<fs::directory_entry> entries;
    if (!fs::is_directory(folder, error) || !SortedEntries(folder, entries, error))
        return "папка «" + folder + "»: " +
               FolderReason(error ? error : std::make_error_code(std::errc::not_a_directory));
    for (const fs::directory_entry& entry : entries) {
        std::error_code ignored;
        if (!Hidden(entry.path().filename().string()) && !entry.is_directory(ignored))
            files.push_back(entry.path().string());
    }
    return {};
}

std::vector<std::int32_t> NumberByNames(const std::vector<TImportClass>& classes,
                                        const std::vector<std::string>& projectNames, std::vector<std::string>& names,
                                        std::vector<std::string>& added)
{
    std::map<std::string, std::int32_t> known;
    for (std::size_t k = projectNames.size(); k-- > 0;)
        known[StorableClassName(projectNames[k], k)] = static_cast<std::int32_t>(k);
    names = projectNames;
    added.clear();
    std::vector<std::int32_t> numbers;
    for (const TImportClass& c : classes) {
        const auto found = known.find(StorableClassName(c.name, names.size()));
        if (found != known.end()) {
            numbers.push_back(found->second);
            continue;
        }
        numbers.push_back(static_cast<std::int32_t>(names.size()));
        known[StorableClassName(c.name, names.size())] = numbers.back();
        names.push_back(c.name);
        added.push_back(c.name);
    }
    return numbers;
}

void ImportImages(std::vector<TImportClass>& classes, std::uint32_t side, PatternRing& ring,
                  const TImportReport& report, const std::vector<std::int32_t>& numbers, TFigureFit fit)
{
    ring.Clear();
    ring.SetDimension(side * side);
    std::uint64_t total = 0;
    for (const TImportClass& c : classes)
        total += c.files.size();
    std::uint64_t done = 0;
    const auto skip = [&](TImportClass& c, const std::string& path, const std::string& reason) {
        ++c.skipped;
        if (report.skipped)
            report.skipped(path, reason);
    };

    std::vector<std::vector<TRectImage>> samples(classes.size());
    TRectImage retina;
    for (std::size_t k = 0; k < classes.size(); ++k) {
        TImportClass& c = classes[k];
        c.imported = 0;
        c.skipped = 0;
        for (const std::string& path : c.files) {
            if (const std::string reason = SamplePictureFile(path, side, side, retina, fit); !reason.empty()) {
                skip(c, path, reason);
            } else {
                samples[k].push_back(retina);
                ++c.imported;
            }
            ++done;
            if (report.progress)
                report.progress(done, total);
        }
    }

    // In rounds: the r-th sample of every class that has one.
    std::size_t longest = 0;
    for (const std::vector<TRectImage>& s : samples)
        longest = std::max(longest, s.size());
    for (std::size_t r = 0; r < longest; ++r)
        for (std::size_t k = 0; k < samples.size(); ++k)
            if (r < samples[k].size()) {
                ring.Add(samples[k][r], numbers.empty() ? static_cast<std::int32_t>(k) : numbers[k]);
                samples[k][r] = TRectImage(); // its copy is in the ring now
            }
}

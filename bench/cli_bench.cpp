// trelis-cli at the scale of a real data set, through the very functions
// its commands use:
//
// * import: 10,000 PNG pictures of 28 x 28 grey pixels in 10 class folders
//   (made once, into a temporary folder, before the first run), listed,
//   read, turned black and white and cut onto a 10 x 10 retina
//   (ListImageFolder and ImportImages, as `trelis-cli import` calls them;
//   writing the sequence is measured by images_bench);
// * train: 100 back-propagation epochs of a 100-25-10 network on 10,000
//   samples of 100 cells, each epoch the one `trelis-cli train` and the
//   learning window run (TPatternTrainer::RunEpoch, with its report).

#include "cli/ImageFile.h"
#include "cli/ImageImport.h"
#include "engine/NeuralNet.h"
#include "engine/Random.h"
#include "project/Learning.h"

#include <benchmark/benchmark.h>

#include <QColor>
#include <QImage>
#include <QPainter>
#include <QPen>
#include <QPointF>
#include <QPolygonF>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <random>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

constexpr int PicturesPerClass = 1000;
constexpr int Classes = 10;

// 10,000 pictures: for each class a stroke of its own shape (a polyline
// through points that depend on the class), moved, sized and bent a little
// at random, antialiased, grey on white.
class TPictureFolder {
public:
    TPictureFolder()
    {
        const char* tmp = std::getenv("TMPDIR");
        path_ = std::filesystem::path(tmp && *tmp ? tmp : "/tmp") / ("trelis-cli-bench-" + std::to_string(::getpid()));
        std::filesystem::remove_all(path_);
        std::mt19937 random(1);
        std::uniform_real_distribution<double> jitter(-2.0, 2.0);
        for (int c = 0; c < Classes; ++c) {
            const std::filesystem::path folder = path_ / std::to_string(c);
            std::filesystem::create_directories(folder);
            std::mt19937 shapeRandom(100 + static_cast<unsigned>(c));
            std::uniform_real_distribution<double> point(4.0, 24.0);
            std::vector<QPointF> shape;
            for (int k = 0; k < 4 + c % 3; ++k)
                shape.emplace_back(point(shapeRandom), point(shapeRandom));
            for (int k = 0; k < PicturesPerClass; ++k) {
                QImage picture(28, 28, QImage::Format_RGB32);
                picture.fill(Qt::white);
                {
                    QPainter painter(&picture);
                    painter.setRenderHint(QPainter::Antialiasing);
                    painter.setPen(QPen(QColor(20, 20, 20), 2.0 + (k % 3) * 0.5, Qt::SolidLine, Qt::RoundCap));
                    QPolygonF stroke;
                    for (const QPointF& p : shape)
                        stroke << QPointF(p.x() + jitter(random), p.y() + jitter(random));
                    painter.drawPolyline(stroke);
                }
                char name[32];
                std::snprintf(name, sizeof name, "%04d.png", k);
                if (!picture.convertToFormat(QImage::Format_Grayscale8)
                         .save(QString::fromStdString((folder / name).string()), "PNG"))
                    failed_ = (folder / name).string();
            }
        }
    }
    ~TPictureFolder() { std::filesystem::remove_all(path_); }

    std::string Path() const { return path_.string(); }
    // A picture that could not be written; empty when every one was.
    const std::string& Failed() const { return failed_; }

private:
    std::filesystem::path path_;
    std::string failed_;
};

void BM_ImportTenThousandPictures(benchmark::State& state)
{
    UseGuiToolkit();
    static const TPictureFolder folder;
    if (!folder.Failed().empty()) {
        state.SkipWithError(("could not write " + folder.Failed()).c_str());
        return;
    }
    std::uint32_t imported = 0;
    std::string firstSkip;
    for (auto _ : state) {
        std::vector<TImportClass> classes;
        if (!ListImageFolder(folder.Path(), classes).empty()) {
            state.SkipWithError("the folder could not be listed");
            return;
        }
        PatternRing ring;
        TImportReport report;
        report.skipped = [&](const std::string& path, const std::string& reason) {
            if (firstSkip.empty())
                firstSkip = path + ": " + reason;
        };
        ImportImages(classes, 10, ring, report);
        imported = ring.GetCount();
        benchmark::DoNotOptimize(imported);
    }
    if (imported != PicturesPerClass * Classes)
        state.SkipWithError(("not every picture was imported: " + std::to_string(imported) + " " + firstSkip).c_str());
    state.SetItemsProcessed(state.iterations() * PicturesPerClass * Classes);
}
BENCHMARK(BM_ImportTenThousandPictures)->Unit(benchmark::kMillisecond);

// 10,000 figure-like samples of 10 x 10 cells: 9,998 filled boxes of
// random place and size, and one picture twice, in two classes, so that no
// epoch answers every sample right and the command would not stop early.
void FillSequence(PatternRing& ring)
{
    constexpr std::uint32_t side = 10;
    std::mt19937 random(5);
    ring.Clear();
    ring.SetDimension(side * side);
    for (int k = 0; k < 9998; ++k) {
        TAbsImage image(side * side);
        const std::uint32_t x0 = random() % 5, y0 = random() % 5, w = 3 + random() % 5, h = 3 + random() % 5;
        for (std::uint32_t y = y0; y < std::min(side, y0 + h); ++y)
            for (std::uint32_t x = x0; x < std::min(side, x0 + w); ++x)
                image.Cells[y * side + x] = 1;
        ring.Add(image, k % Classes);
    }
    TAbsImage twin(side * side);
    twin.Cells[0] = 1;
    ring.Add(twin, 0);
    ring.Add(twin, 1);
    ring.StepCursor(); // the first sample added
}

void BM_TrainHundredEpochs(benchmark::State& state)
{
    PatternRing ring;
    FillSequence(ring);
    TPatternTrainer trainer;
    const TTrainingSettings settings;
    std::uint32_t lastCorrect = 0;
    for (auto _ : state) {
        state.PauseTiming();
        SetSeedClock([] { return std::time_t{1}; });
        auto net = std::make_unique<TNeuralNet>(2, std::vector<std::uint32_t>{100, 25, 10}, 0.68f, 0.0f, 0.0f, 1.0f,
                                                1.0f);
        SetSeedClock({});
        state.ResumeTiming();
        for (int epoch = 0; epoch < 100; ++epoch)
            lastCorrect = trainer.RunEpoch(*net, ring, settings).correct;
        benchmark::DoNotOptimize(lastCorrect);
    }
    if (lastCorrect == ring.GetCount())
        state.SkipWithError("an epoch answered every sample right: the command would have stopped");
    state.SetItemsProcessed(state.iterations() * 100 * ring.GetCount());
}
BENCHMARK(BM_TrainHundredEpochs)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();

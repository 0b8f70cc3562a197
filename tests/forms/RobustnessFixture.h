#pragma once
// A project in use, with a pattern project's class names and retina and a
// loaded series training in the background, and a snapshot of everything
// the program keeps: the bad-input tests compare it before and after each
// input, the soak test checks the training sequence's ring with it.

#include "FormsFixture.h"

#include "engine/NeuralNet.h"
#include "engine/Random.h"
#include "forms/Globals.h"
#include "forms/Unit1.h"
#include "forms/Unit10.h"
#include "forms/Unit11.h"
#include "forms/Unit2.h"
#include "forms/Unit3.h"
#include "forms/Unit4.h"
#include "forms/Unit6.h"
#include "forms/Unit7.h"
#include "project/Globals.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QProgressBar>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdint>
#include <cstring>
#include <ctime>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace robustness {

inline std::string Raw(const void* data, std::size_t bytes)
{
    return std::string(static_cast<const char*>(data), bytes);
}

template <class T>
std::string Raw(const std::vector<T>& values)
{
    return Raw(values.data(), values.size() * sizeof(T));
}

inline std::string Text(const QString& text)
{
    return text.toStdString();
}

inline std::string Address(const void* p)
{
    return std::to_string(reinterpret_cast<std::uintptr_t>(p));
}

// What is wrong with the training sequence's ring, or nothing: the cursor
// is there exactly while there are elements, following Next from it visits
// Count distinct elements and comes back, and every element ends with its
// bias byte 1 right after its cells.
inline std::string RingFault(const PatternRing& ring)
{
    if ((ring.Count == 0) != (ring.Current == nullptr))
        return "Count " + std::to_string(ring.Count) + " with cursor " + Address(ring.Current);
    std::set<const TAbsImage*> seen;
    const TAbsImage* e = ring.Current;
    for (std::uint32_t k = 0; k < ring.Count; ++k) {
        if (e == nullptr)
            return "the ring breaks off after " + std::to_string(k) + " elements";
        if (!seen.insert(e).second)
            return "element " + std::to_string(k) + " was met before";
        if (e->Cells.size() != static_cast<std::size_t>(e->Size) + 1 || e->Cells[e->Size] != 1)
            return "element " + std::to_string(k) + " has no bias byte after its " + std::to_string(e->Size) +
                   " cells";
        e = e->Next;
    }
    if (e != ring.Current)
        return "the ring does not close after " + std::to_string(ring.Count) + " elements";
    return {};
}

// Everything the program keeps, field by field. What the user typed into
// the edit fields and the names the file dialogs remember are not part of
// it: they follow the user's input by design.
class TProjectSnapshot {
public:
    std::map<std::string, std::string> fields;

    static TProjectSnapshot Take()
    {
        TProjectSnapshot s;
        s.TakeNetwork();
        s.TakeSequence();
        s.TakeRetina();
        s.TakeClassNames();
        s.TakeSeries();
        s.TakeLearning();
        s.TakeWindows();
        return s;
    }

    // The fields that differ, by name.
    std::vector<std::string> Differences(const TProjectSnapshot& other) const
    {
        std::vector<std::string> names;
        for (const auto& [name, value] : fields) {
            const auto there = other.fields.find(name);
            if (there == other.fields.end() || there->second != value)
                names.push_back(name);
        }
        for (const auto& [name, value] : other.fields)
            if (!fields.count(name))
                names.push_back(name);
        return names;
    }

    void Set(const std::string& name, const std::string& value) { fields[name] = value; }

private:
    void TakeNetwork()
    {
        Set("net", Address(CurrentNet.get()));
        if (!CurrentNet)
            return;
        const TNeuralNet& net = *CurrentNet;
        std::string layout = std::to_string(net.layerCount) + " " + std::to_string(net.outputCount);
        std::vector<float> weights;
        for (const TLayer& layer : net.layers) {
            layout += " " + std::to_string(layer.inputCount) + "x" + std::to_string(layer.neuronCount);
            for (std::size_t i = 0; i < layer.weights.Rows(); ++i)
                weights.insert(weights.end(), layer.weights[i], layer.weights[i] + layer.weights.Columns());
        }
        Set("net.layout", layout);
        Set("net.scaling", Raw(std::vector<float>{net.inputOffset, net.targetOffset, net.inputScale,
                                                  net.targetScale}));
        Set("net.weights", Raw(weights));
    }

    void TakeSequence()
    {
        const PatternRing& ring = TrainingSequence;
        Set("sequence.count", std::to_string(ring.Count));
        Set("sequence.dimension", std::to_string(ring.Dimension));
        Set("sequence.cursor", Address(ring.Current));
        const std::string fault = RingFault(ring);
        Set("sequence.ring", fault);
        if (!fault.empty())
            return;
        std::string elements;
        const TAbsImage* e = ring.Current;
        for (std::uint32_t k = 0; k < ring.Count; ++k, e = e->Next)
            elements += Address(e) + ":" + std::to_string(e->ClassIndex) + ":" + std::to_string(e->Size) + ":" +
                        Raw(e->Cells) + "|";
        Set("sequence.elements", elements);
    }

    void TakeRetina()
    {
        Set("retina.image", std::to_string(RetinaImage.Width) + "x" + std::to_string(RetinaImage.Height) + " " +
                                std::to_string(RetinaImage.Size) + " " + Raw(RetinaImage.Cells));
        Set("retina.size", std::to_string(SmImForm->retinaWidth) + "x" + std::to_string(SmImForm->retinaHeight));
        Set("retina.mode", std::to_string(SmImForm->showSequence));
        Set("retina.labels", Text(SmImForm->Label1->Caption() + "|" + SmImForm->Label2->Caption()));
        Set("retina.buttons", std::to_string(SmImForm->Button1->isEnabled()) +
                                  std::to_string(SmImForm->Button2->isEnabled()));
        Set("canvas.cells", std::to_string(CanvasImage.Width) + "x" + std::to_string(CanvasImage.Height) + " " +
                                Raw(CanvasImage.Cells));
    }

    void TakeClassNames()
    {
        const TStringGrid* grid = Form7->StringGrid1;
        std::string cells = std::to_string(grid->RowCount()) + " rows, " + std::to_string(grid->FixedRows()) +
                            " fixed:";
        for (int r = 0; r < grid->RowCount(); ++r)
            cells += Text(grid->Cell(0, r)) + "=" + Text(grid->Cell(1, r)) + "|";
        Set("names.grid", cells);
        Set("names.row", std::to_string(Form7->CurrentRow));
        const QComboBox* box = SmImForm->ComboBox1;
        std::string items;
        for (int i = 0; i < box->count(); ++i)
            items += Text(box->itemText(i)) + "|";
        Set("names.list", items);
        Set("names.choice", std::to_string(box->currentIndex()) + " " + Text(box->currentText()));
    }

    void TakeSeries()
    {
        Set("series.count", std::to_string(SeriesBuffer.count));
        Set("series.array", Address(SeriesBuffer.values.get()));
        if (SeriesBuffer.values && SeriesBuffer.count > 0)
            Set("series.values", Raw(SeriesBuffer.values.get(),
                                     static_cast<std::size_t>(SeriesBuffer.count) * sizeof(float)));
        Set("series.window", std::to_string(Form10->windowSize));
        Set("series.train", std::to_string(SerLForm->trainLength));
        Set("series.range", Raw(std::vector<float>{SerLForm->seriesMin, SerLForm->seriesMax}));
        Set("series.errors", Raw(std::vector<float>{SerLForm->minError, SerLForm->maxError, SerLForm->lastError}));
        Set("series.labels", Text(SerLForm->Label2->Caption() + "|" + SerLForm->Label3->Caption()));
        Set("series.timers", std::to_string(SerLForm->Timer1->isActive()) +
                                 std::to_string(SerLForm->Timer2->isActive()));
        Set("series.firstWindow", std::to_string(SerLForm->CheckBox1->isChecked()));
    }

    void TakeLearning()
    {
        Set("learning.timer", std::to_string(LearnForm->Timer1->isActive()));
        Set("learning.counters", std::to_string(LearnForm->patternIndex) + " " +
                                     std::to_string(LearnForm->correctCount) + " " +
                                     std::to_string(LearnForm->epochCount) + " " +
                                     Raw(&LearnForm->barStep, sizeof LearnForm->barStep) + " " +
                                     std::to_string(LearnForm->stochastic));
        Set("learning.status", Text(LearnForm->Label1->Caption()) + " " +
                                   std::to_string(LearnForm->ProgressBar1->value()));
    }

    void TakeWindows()
    {
        for (TForm* form : TForm::Forms())
            Set("visible." + Text(form->objectName()), std::to_string(form->isVisible()));
        for (QAction* top : Form1->MainMenu1->actions()) {
            Set("menu." + Text(top->objectName()), std::to_string(top->isEnabled()));
            for (QAction* item : top->menu()->actions())
                Set("menu." + Text(item->objectName()), std::to_string(item->isEnabled()));
        }
    }
};

// The snapshot with the four sequence commands enabled, as every sequence
// load leaves them whatever its outcome.
inline TProjectSnapshot WithSequenceCommandsEnabled(TProjectSnapshot s)
{
    for (const char* item : {"menu.N8", "menu.N10", "menu.N18", "menu.N20"})
        s.Set(item, "1");
    return s;
}

// The snapshot as "Новый проект" leaves it before its dialog shows: the
// retina view closed and the four sequence commands disabled.
inline TProjectSnapshot AsNewProjectBegins(TProjectSnapshot s)
{
    s.Set("visible.SmImForm", "0");
    for (const char* item : {"menu.N8", "menu.N10", "menu.N18", "menu.N20"})
        s.Set(item, "0");
    return s;
}

// The ten values of the series every project in use has loaded. The largest
// comes first, so that no window's class (1 only at the largest value) lies
// beyond the series network's one output and the learning window trains on
// the windows too.
inline const std::string TenValues = "10\n9 1 4 2 8 3 5 0 7 6\n";

class ProjectInUse : public Started {
protected:
    void SetUp() override
    {
        Started::SetUp();
        ASSERT_TRUE(folder.isValid());

        // A pattern project of 16-cell elements and three named classes...
        NewProject("16", "3", "5");
        ASSERT_EQ(RetinaImage.GetSize(), 16u);
        Form7->StringGrid1->setCurrentCell(2, 1);
        Form7->Edit1->setText(QStringLiteral("круг"));
        Form7->Button1->click();
        // ... a figure on the canvas and one on the retina ...
        for (int i = 0; i < 5; ++i)
            CanvasImage.SetCell(static_cast<std::uint32_t>(10 + i), 20, 1);
        RetinaImage.SetCell(1, 1, 1);
        RetinaImage.SetCell(2, 3, 1);
        // ... then a series, which brings its own network and sequence and
        // trains in the background, with its window open and repainting ...
        ASSERT_TRUE(LoadSeries(File("ten.ser", TenValues), "3", "8"));
        for (int tick = 0; tick < 5; ++tick)
            SerLForm->Timer1Timer();
        SerLForm->Show();
        SerLForm->Timer2Timer();
        // ... the learning window training on that sequence ...
        LearnForm->Show();
        LearnForm->CheckBox1->setChecked(true);
        LearnForm->Button2->click();
        LearnForm->Timer1Timer();
        // ... and the retina view open on the canvas.
        Form1->N6->trigger();
        ASSERT_TRUE(SmImForm->isVisible());
        ASSERT_TRUE(SerLForm->Timer1->isActive());
        ASSERT_TRUE(LearnForm->Timer1->isActive());
        ASSERT_FALSE(Form1->N8->isEnabled());
        log.clear();
    }

    testnets::PinnedClock clock{1700000000};  // the same weights on every run

    // A file of the scratch folder holding the bytes; its full name.
    QString File(const QString& name, const std::string& bytes)
    {
        QFile file(folder.filePath(name));
        EXPECT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate)) << name.toStdString();
        file.write(bytes.data(), static_cast<qint64>(bytes.size()));
        return file.fileName();
    }

    // The message boxes shown since the log was last cleared.
    QStringList Boxes() const
    {
        QStringList boxes;
        for (const QString& entry : log)
            if (entry.startsWith(QStringLiteral("box ")))
                boxes << entry.mid(4);
        return boxes;
    }

    QTemporaryDir folder;
};

} // namespace robustness

#pragma once
// A project in use, with a pattern project's class names and retina and a
// loaded series training in the background, and a check of the training
// sequence's ring that the soak test makes after every step.

#include "SeriesFixture.h"

#include <cstring>
#include <set>

namespace robustness {

inline std::string Address(const void* p)
{
    return std::to_string(reinterpret_cast<std::uintptr_t>(p));
}

// What is wrong with the training sequence's ring, or nothing: the cursor
// is there exactly while there are elements, the walk from it visits
// GetCount() distinct elements, the walk from the element after it the same
// ones, and every element ends with its bias byte 1 right after its cells.
inline std::string RingFault(const PatternRing& ring)
{
    if ((ring.GetCount() == 0) != (ring.CurrentElement() == nullptr))
        return "Count " + std::to_string(ring.GetCount()) + " with cursor " + Address(ring.CurrentElement());
    std::set<const TAbsImage*> seen;
    std::uint32_t k = 0;
    for (const TAbsImage& e : ring.Elements()) {
        if (!seen.insert(&e).second)
            return "element " + std::to_string(k) + " was met before";
        if (e.Cells.size() != static_cast<std::size_t>(e.Size) + 1 || e.Cells[e.Size] != 1)
            return "element " + std::to_string(k) + " has no bias byte after its " + std::to_string(e.Size) +
                   " cells";
        ++k;
    }
    std::set<const TAbsImage*> fromNext;
    for (const TAbsImage& e : ring.FileOrder())
        fromNext.insert(&e);
    if (fromNext != seen)
        return "the ring does not close after " + std::to_string(ring.GetCount()) + " elements";
    return {};
}

// The ten values of the series every project in use has loaded. The largest
// comes first, so that no window's class (1 only at the largest value) lies
// beyond the series network's one output and the learning window trains on
// the windows too.
inline const std::string TenValues = "10\n9 1 4 2 8 3 5 0 7 6\n";

class ProjectInUse : public SeriesUser {
protected:
    void SetUp() override
    {
        SeriesUser::SetUp();

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
};

} // namespace robustness

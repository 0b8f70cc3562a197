// The training sequence: its circle, cursor and ownership rules, and the
// shared objects.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <iterator>
#include <memory>
#include <set>
#include <vector>

#include "project/Globals.h"
#include "images/PatternRing.h"

namespace {

TAbsImage Pattern(std::vector<std::int8_t> cells) {
    TAbsImage img(static_cast<std::uint32_t>(cells.size()));
    img.Cells = std::move(cells);
    return img;
}

std::vector<const TAbsImage*> Walk(TRingElements elements) {
    std::vector<const TAbsImage*> walked;
    for (const TAbsImage& e : elements)
        walked.push_back(&e);
    return walked;
}

// Class indices read once round the circle from the element after the
// cursor to the cursor's; also checks that both walks meet GetCount()
// distinct elements, the walk from the cursor one place ahead of the other.
std::vector<std::int32_t> Circle(const PatternRing& ring) {
    std::vector<const TAbsImage*> fromCursor = Walk(ring.Elements());
    const std::vector<const TAbsImage*> fileOrder = Walk(ring.FileOrder());
    EXPECT_EQ(fileOrder.size(), ring.GetCount());
    EXPECT_EQ(std::set<const TAbsImage*>(fileOrder.begin(), fileOrder.end()).size(), fileOrder.size());
    std::vector<std::int32_t> order;
    if (ring.GetCount() == 0) {
        EXPECT_EQ(ring.CurrentElement(), nullptr);
        EXPECT_TRUE(fromCursor.empty());
        return order;
    }
    EXPECT_EQ(fromCursor.front(), ring.CurrentElement());
    std::rotate(fromCursor.begin(), fromCursor.begin() + 1, fromCursor.end());
    EXPECT_EQ(fromCursor, fileOrder) << "the walks do not go round one circle";
    for (const TAbsImage* e : fileOrder)
        order.push_back(e->ClassIndex);
    return order;
}

PatternRing& AddAll(PatternRing& ring, std::initializer_list<std::int32_t> classes) {
    for (std::int32_t c : classes)
        ring.Add(Pattern({1, 0, static_cast<std::int8_t>(c)}), c);
    return ring;
}

} // namespace

TEST(PatternRing, FirstElementIsACopyThatLinksToItself) {
    PatternRing ring;
    TAbsImage src = Pattern({1, 0, 1});
    src.Cells.push_back(0);            // a stray byte after the cells
    ring.Add(src, 4);
    ASSERT_EQ(ring.GetCount(), 1u);
    const TAbsImage* first = ring.CurrentElement();
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(Walk(ring.FileOrder()), std::vector<const TAbsImage*>{first});
    EXPECT_EQ(ring.StepCursor(), first);
    EXPECT_EQ(first->ClassIndex, 4);
    EXPECT_EQ(first->Size, 3u);
    EXPECT_EQ(first->Cells, (std::vector<std::int8_t>{1, 0, 1, 1}));

    src.Cells[0] = 0;                  // the element does not share the buffer
    EXPECT_EQ(first->Cells[0], 1);

    // An element of the ring itself can be added again.
    ring.Add(*first, 5);
    EXPECT_EQ(Circle(ring), (std::vector<std::int32_t>{4, 5}));
    EXPECT_EQ(ring.CurrentElement()->Cells, (std::vector<std::int8_t>{1, 0, 1, 1}));
}

TEST(PatternRing, AppendsKeepOrderAndRemovalGoesBackToThePredecessor) {
    PatternRing ring;
    AddAll(ring, {1, 2, 3});
    EXPECT_EQ(ring.CurrentElement()->ClassIndex, 3);
    EXPECT_EQ(Circle(ring), (std::vector<std::int32_t>{1, 2, 3}));

    ring.RemoveCurrent();
    EXPECT_EQ(ring.GetCount(), 2u);
    EXPECT_EQ(ring.CurrentElement()->ClassIndex, 2);
    EXPECT_EQ(Circle(ring), (std::vector<std::int32_t>{1, 2}));

    ring.RemoveCurrent();
    ring.RemoveCurrent();
    EXPECT_EQ(Circle(ring), std::vector<std::int32_t>{});
    ring.RemoveCurrent();              // nothing left: nothing happens
    EXPECT_EQ(Circle(ring), std::vector<std::int32_t>{});
    EXPECT_EQ(ring.StepCursor(), nullptr);
}

TEST(PatternRing, AddInsertsRightAfterAMovedCursor) {
    PatternRing ring;
    AddAll(ring, {1, 2, 3});
    ring.StepCursor();                     // cursor on 1
    AddAll(ring, {4});
    EXPECT_EQ(ring.CurrentElement()->ClassIndex, 4);
    EXPECT_EQ(ring.GetCount(), 4u);
    EXPECT_EQ(Circle(ring), (std::vector<std::int32_t>{2, 3, 1, 4}));   // circle 1, 4, 2, 3

    ring.StepCursor();                     // cursor on 2
    ring.RemoveCurrent();                  // back to 4
    EXPECT_EQ(ring.CurrentElement()->ClassIndex, 4);
    EXPECT_EQ(Circle(ring), (std::vector<std::int32_t>{3, 1, 4}));
}

TEST(PatternRing, ClearEmptiesButKeepsDimension) {
    PatternRing ring;
    ring.SetDimension(26);
    ring.Clear();
    EXPECT_EQ(ring.GetCount(), 0u);
    AddAll(ring, {1, 2, 3, 4, 5});
    ring.StepCursor();
    ring.StepCursor();
    ring.Clear();
    EXPECT_EQ(Circle(ring), std::vector<std::int32_t>{});
    EXPECT_EQ(ring.GetDimension(), 26u);

    AddAll(ring, {7});
    EXPECT_EQ(Circle(ring), (std::vector<std::int32_t>{7}));
}


TEST(PatternRing, EveryWalkGoesOnceRoundFromItsStartAndTheCursorLandsWhereItIsPut) {
    PatternRing ring;
    AddAll(ring, {0, 1, 2, 3, 4});     // circle 0 .. 4, the cursor on 4
    const std::vector<const TAbsImage*> circle = Walk(ring.FileOrder());
    ASSERT_EQ(circle.size(), 5u);
    for (std::size_t start = 0; start < circle.size(); ++start) {
        std::vector<const TAbsImage*> expected = circle;
        std::rotate(expected.begin(), expected.begin() + static_cast<std::ptrdiff_t>(start), expected.end());
        EXPECT_EQ(Walk(ring.ElementsFrom(*circle[start])), expected) << start;
        // Put there, the cursor walks the same way and files go on after it.
        ring.MoveCursorTo(*circle[start]);
        EXPECT_EQ(Walk(ring.Elements()), expected) << start;
        EXPECT_EQ(&*std::next(ring.Elements().begin(), 3), expected[3]) << start;
        EXPECT_EQ(ring.StepCursor(), expected[1]) << start;
        EXPECT_EQ(ring.FileOrder().begin()->ClassIndex, expected[2]->ClassIndex) << start;
    }
    EXPECT_EQ(Walk(PatternRing().Elements()), std::vector<const TAbsImage*>{});
}

TEST(PatternRing, AnInsertedElementIsKeptAsItIs) {
    PatternRing ring;
    AddAll(ring, {1});
    auto element = std::make_unique<TAbsImage>();
    element->Size = 2;
    element->ClassIndex = 9;
    element->Cells = {1, 0, 0, 1, 1};  // no bias byte where Add would put one
    const TAbsImage* inserted = element.get();
    ring.Insert(std::move(element));
    EXPECT_EQ(ring.CurrentElement(), inserted);
    EXPECT_EQ(Circle(ring), (std::vector<std::int32_t>{1, 9}));
    EXPECT_EQ(inserted->Size, 2u);
    EXPECT_EQ(inserted->Cells, (std::vector<std::int8_t>{1, 0, 0, 1, 1}));
}

// The training sequence: its circle, cursor and ownership rules, and the
// shared objects.

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "project/Globals.h"
#include "images/PatternRing.h"

namespace {

TAbsImage Pattern(std::vector<std::int8_t> cells) {
    TAbsImage img(static_cast<std::uint32_t>(cells.size()));
    img.Cells = std::move(cells);
    return img;
}

// Class indices read once round the circle from Current->Next to Current;
// also checks that the walk returns to Current after exactly Count steps.
std::vector<std::int32_t> Circle(const PatternRing& ring) {
    std::vector<std::int32_t> order;
    if (ring.Count == 0) {
        EXPECT_EQ(ring.Current, nullptr);
        return order;
    }
    const TAbsImage* e = ring.Current;
    for (std::uint32_t k = 0; k < ring.Count; ++k) {
        e = e->Next;
        order.push_back(e->ClassIndex);
    }
    EXPECT_EQ(e, ring.Current) << "the circle is not Count elements long";
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
    ASSERT_NE(ring.Current, nullptr);
    EXPECT_EQ(ring.Current->Next, ring.Current);
    EXPECT_EQ(ring.Current->ClassIndex, 4);
    EXPECT_EQ(ring.Current->Size, 3u);
    EXPECT_EQ(ring.Current->Cells, (std::vector<std::int8_t>{1, 0, 1, 1}));

    src.Cells[0] = 0;                  // the element does not share the buffer
    EXPECT_EQ(ring.Current->Cells[0], 1);

    // An element of the ring itself can be added again.
    ring.Add(*ring.Current, 5);
    EXPECT_EQ(Circle(ring), (std::vector<std::int32_t>{4, 5}));
    EXPECT_EQ(ring.Current->Cells, (std::vector<std::int8_t>{1, 0, 1, 1}));
}

TEST(PatternRing, AppendsKeepOrderAndRemovalGoesBackToThePredecessor) {
    PatternRing ring;
    AddAll(ring, {1, 2, 3});
    EXPECT_EQ(ring.Current->ClassIndex, 3);
    EXPECT_EQ(ring.Current->Next->ClassIndex, 1);
    EXPECT_EQ(Circle(ring), (std::vector<std::int32_t>{1, 2, 3}));

    ring.RemoveCurrent();
    EXPECT_EQ(ring.GetCount(), 2u);
    EXPECT_EQ(ring.Current->ClassIndex, 2);
    EXPECT_EQ(ring.Current->Next->ClassIndex, 1);
    EXPECT_EQ(Circle(ring), (std::vector<std::int32_t>{1, 2}));

    ring.RemoveCurrent();
    ring.RemoveCurrent();
    EXPECT_EQ(ring.GetCount(), 0u);
    EXPECT_EQ(ring.Current, nullptr);
    ring.RemoveCurrent();              // nothing left: nothing happens
    EXPECT_EQ(ring.GetCount(), 0u);
    EXPECT_EQ(ring.Current, nullptr);
}

TEST(PatternRing, AddInsertsRightAfterAMovedCursor) {
    PatternRing ring;
    AddAll(ring, {1, 2, 3});
    ring.Current = ring.Current->Next;     // cursor on 1
    AddAll(ring, {4});
    EXPECT_EQ(ring.Current->ClassIndex, 4);
    EXPECT_EQ(ring.GetCount(), 4u);
    EXPECT_EQ(Circle(ring), (std::vector<std::int32_t>{2, 3, 1, 4}));   // circle 1, 4, 2, 3

    ring.Current = ring.Current->Next;     // cursor on 2
    ring.RemoveCurrent();                  // back to 4
    EXPECT_EQ(ring.Current->ClassIndex, 4);
    EXPECT_EQ(Circle(ring), (std::vector<std::int32_t>{3, 1, 4}));
}

TEST(PatternRing, ClearEmptiesButKeepsDimension) {
    PatternRing ring;
    ring.SetDimension(26);
    ring.Clear();
    EXPECT_EQ(ring.GetCount(), 0u);
    AddAll(ring, {1, 2, 3, 4, 5});
    ring.Current = ring.Current->Next->Next;
    ring.Clear();
    EXPECT_EQ(ring.GetCount(), 0u);
    EXPECT_EQ(ring.Current, nullptr);
    EXPECT_EQ(ring.GetDimension(), 26u);

    AddAll(ring, {7});
    EXPECT_EQ(Circle(ring), (std::vector<std::int32_t>{7}));
}


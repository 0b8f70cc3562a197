// The series picture's polyline, drawn column by column.

#include "forms/SeriesPlot.h"

#include "SeriesFixture.h"

namespace {

TEST(SeriesPlot, TheColumnPolylineDrawsExactlyWhatThePlainPolylineDraws)
{
    std::mt19937 rng(7);
    for (const std::uint32_t n : {2u, 40u, 501u, 777u, 5000u}) {
        for (const int width : {1, 3}) {
            QImage plainImage = MakeBitmap(500, 255), fastImage = MakeBitmap(500, 255);
            TCanvas plain(plainImage), fast(fastImage);
            plain.SetPenWidth(width);
            fast.SetPenWidth(width);
            float u = 0.5f; // a walk with jumps, flat stretches and repeated points
            const auto next = [&] {
                const unsigned kind = rng() % 10;
                if (kind < 6)
                    u = std::clamp(u + static_cast<float>(static_cast<int>(rng() % 41) - 20) / 255.0f, 0.0f, 1.0f);
                else if (kind < 8)
                    u = static_cast<float>(rng() % 256) / 255.0f;
                return SeriesY(u);
            };
            const int y0 = next();
            plain.MoveTo(0, y0);
            fast.MoveTo(0, y0);
            {
                TColumnPolyline line(fast);
                for (std::uint32_t i = 1; i < n; ++i) {
                    const int x = SeriesX(i, SeriesStep(n)), y = next();
                    plain.LineTo(x, y);
                    line.LineTo(x, y);
                    if (i == n / 2) { // a change of colour part-way
                        line.Flush();
                        plain.SetPenColor(clRed);
                        fast.SetPenColor(clRed);
                    }
                }
            }
            EXPECT_TRUE(plainImage == fastImage) << n << " points, width " << width;
            EXPECT_EQ(plain.PenPos(), fast.PenPos());
        }
    }
}

} // namespace

// Where the take report's graph puts a time and a number of cents: the plot area inside the
// graph's box, x growing with time from the sound's start to its end, y from +kReportCents at
// the top to -kReportCents at the bottom. Pixels are the box's, y growing downward; positions
// are rounded half to even, as the views' others.
#pragma once

namespace sonabi {

constexpr double kReportCents = 50.0;  // the graph shows -50 .. +50 cents around the notes

struct ReportGeometry {
    int left = 0, top = 0;      // pixels: the plot area's top left corner in the box
    int width = 1, height = 1;  // pixels, at least 1
    double seconds = 1.0;       // what the plot's width stands for, > 0

    // The column of a time (s, 0 .. seconds): left .. left + width - 1.
    int X(double time) const;
    // The row of cents: top for +kReportCents, top + height - 1 for -kReportCents; cents
    // beyond the range are kept at its edges.
    int Y(double cents) const;
};

// The plot area of a box of boxWidth x boxHeight pixels with `margin` pixels left for the scales
// on the left and below (and a few on the other sides), for a sound of `seconds` (0 is taken as
// 1 s).
ReportGeometry ReportGeometryFor(int boxWidth, int boxHeight, int leftMargin, int bottomMargin,
                                 double seconds);

// The step between labelled time lines: 1, 2 or 5 times a power of ten seconds, the least that
// leaves at least minPixels between lines.
double ReportTimeStep(const ReportGeometry& g, int minPixels);

}  // namespace sonabi

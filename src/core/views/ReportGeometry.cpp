#include "views/ReportGeometry.h"

#include <algorithm>
#include <cmath>

#include "common/Round.h"

namespace sonabi {

int ReportGeometry::X(double time) const {
    const double t = std::clamp(time, 0.0, seconds);
    return left +
           static_cast<int>(std::min<long long>(Round(t / seconds * (width - 1)), width - 1));
}

int ReportGeometry::Y(double cents) const {
    const double c = std::clamp(cents, -kReportCents, kReportCents);
    return top + static_cast<int>(Round((kReportCents - c) / (2 * kReportCents) * (height - 1)));
}

ReportGeometry ReportGeometryFor(int boxWidth, int boxHeight, int leftMargin, int bottomMargin,
                                 double seconds) {
    constexpr int kEdge = 8;  // pixels kept free on the top and the right
    ReportGeometry g;
    g.left = leftMargin;
    g.top = kEdge;
    g.width = std::max(1, boxWidth - leftMargin - kEdge);
    g.height = std::max(1, boxHeight - bottomMargin - kEdge);
    g.seconds = seconds > 0 && std::isfinite(seconds) ? seconds : 1.0;
    return g;
}

double ReportTimeStep(const ReportGeometry& g, int minPixels) {
    const double perSecond = (g.width - 1) / g.seconds;
    for (double decade = 0.001; decade < 1e7; decade *= 10)
        for (const double m : {1.0, 2.0, 5.0})
            if (m * decade * perSecond >= minPixels) return m * decade;
    return g.seconds;
}

}  // namespace sonabi

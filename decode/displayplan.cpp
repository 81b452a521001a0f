#include "decode/displayplan.h"

#include <algorithm>
#include <cmath>

namespace tavlin {

namespace {
int toPixels(double twips, double tpp) {
    return static_cast<int>(std::lround(twips / tpp));
}
} // namespace

DisplayPlan planDisplay(QSize orientedSize, const DisplayContext& context) {
    const double tpp = context.twipsPerPixel;
    const DisplayGeometry g =
        computeDisplayGeometry(orientedSize, context.screenPixels.width() * tpp,
                               context.screenPixels.height() * tpp, tpp, context.options);
    DisplayPlan plan;
    plan.placed = QRect(toPixels(g.picture.left, tpp), toPixels(g.picture.top, tpp),
                        std::max(1, toPixels(g.picture.width, tpp)),
                        std::max(1, toPixels(g.picture.height, tpp)));
    plan.scale = std::clamp(double(orientedSize.width()) / plan.placed.width(), 1.0,
                            std::max(1.0, context.devicePixelRatio));
    const QRect onScreen = plan.placed.intersected(QRect(QPoint(0, 0), context.screenPixels))
                               .translated(-plan.placed.topLeft());
    const QSize decoded(std::max(1, qRound(plan.placed.width() * plan.scale)),
                        std::max(1, qRound(plan.placed.height() * plan.scale)));
    const QRect visible =
        QRectF(onScreen.topLeft() * plan.scale, onScreen.size() * plan.scale).toAlignedRect();
    plan.request = DecodeRequest{decoded, visible.intersected(QRect(QPoint(0, 0), decoded))};
    return plan;
}

DecodePlanner displayPlanner(const DisplayContext& context, DisplayPlan* made) {
    return [context, made](QSize orientedSize) {
        const DisplayPlan plan = planDisplay(orientedSize, context);
        if (made)
            *made = plan;
        return plan.request;
    };
}

} // namespace tavlin

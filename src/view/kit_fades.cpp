#include "view/kit_fades.h"

#include <QGraphicsOpacityEffect>
#include <QPointer>
#include <QPropertyAnimation>
#include <QWidget>
#include <cmath>

namespace hw {

namespace {

const char* const kFadeName = "hw_kit_fade";

int durationMs(double seconds) {
    if (!(seconds > 0) || !std::isfinite(seconds)) seconds = 1.0;
    return std::max(1, int(std::lround(seconds * 1000.0)));
}

QGraphicsOpacityEffect* opacityEffect(QWidget& view) {
    if (auto* effect = qobject_cast<QGraphicsOpacityEffect*>(view.graphicsEffect())) return effect;
    auto* effect = new QGraphicsOpacityEffect(&view);
    effect->setOpacity(1.0);
    view.setGraphicsEffect(effect);
    return effect;
}

// A new fade replaces the one running: the old one ends where it is and its
// completion still runs, as an ended animation's would.
void finishRunningFade(QWidget& view) {
    if (auto* running = view.findChild<QPropertyAnimation*>(kFadeName, Qt::FindDirectChildrenOnly)) {
        running->setObjectName(QString());
        running->setProperty("hw_superseded", true);
        running->stop();
        // stop() does not finish; the replaced fade's completion still runs.
        Q_EMIT running->finished();
    }
}

void animate(QWidget& view, double to, double seconds, std::function<void(bool superseded)> atEnd) {
    QGraphicsOpacityEffect* effect = opacityEffect(view);
    auto* animation = new QPropertyAnimation(effect, "opacity", &view);
    animation->setObjectName(kFadeName);
    animation->setDuration(durationMs(seconds));
    animation->setStartValue(effect->opacity());
    animation->setEndValue(to);
    QObject::connect(animation, &QAbstractAnimation::finished, animation, [animation, atEnd = std::move(atEnd)] {
        // Until its deletion runs (later still inside a nested loop), an ended
        // fade must not be taken for a running one: its completion would run twice.
        animation->setObjectName(QString());
        animation->deleteLater();
        if (atEnd) atEnd(animation->property("hw_superseded").toBool());
    });
    animation->start();
}

}  // namespace

double viewOpacity(const QWidget& view) {
    if (const auto* effect = qobject_cast<const QGraphicsOpacityEffect*>(view.graphicsEffect())) return effect->opacity();
    return 1.0;
}

void fadeInWithDuration(QWidget& view, double seconds, std::function<void()> completion) {
    finishRunningFade(view);
    double target = 1.0;
    if (const auto* specific = dynamic_cast<const SpecificAlphaView*>(&view); specific && specific->useSpecificAlpha())
        target = specific->getSpecificAlpha();
    opacityEffect(view)->setOpacity(0.0);
    view.show();
    animate(view, target, seconds, [completion = std::move(completion)](bool) {
        if (completion) completion();
    });
}

void fadeOutWithDuration(QWidget& view, double seconds, std::function<void()> completion) {
    finishRunningFade(view);
    QPointer<QWidget> guard(&view);
    animate(view, 0.0, seconds, [guard, completion = std::move(completion)](bool superseded) {
        // A fade-in that replaced this one keeps the view shown.
        if (!superseded && guard) guard->hide();
        if (completion) completion();
    });
}

}  // namespace hw

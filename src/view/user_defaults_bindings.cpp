#include "view/user_defaults_bindings.h"

#include <QAbstractButton>
#include <QButtonGroup>
#include <QPointer>
#include <QSignalBlocker>

namespace hw {

namespace {

// Ends the controller's observation when the Qt object goes.
void observeWhileAlive(QObject& owner, UserDefaultsController& controller, const std::string& key,
                       std::function<void()> refresh) {
    const int token = controller.observe([key, refresh](const std::string& changed) {
        if (changed == key) refresh();
    });
    QObject::connect(&owner, &QObject::destroyed, [&controller, token] { controller.stopObserving(token); });
}

}  // namespace

void bindCheckBox(QAbstractButton& box, UserDefaultsController& controller, const std::string& key) {
    box.setCheckable(true);
    QPointer<QAbstractButton> guard(&box);
    auto refresh = [guard, &controller, key] {
        if (!guard) return;
        const QSignalBlocker quiet(guard.data());
        guard->setChecked(controller.boolValue(key));
    };
    refresh();
    QObject::connect(&box, &QAbstractButton::toggled, &box,
                     [&controller, key](bool checked) { controller.setValue(key, checked); });
    observeWhileAlive(box, controller, key, refresh);
}

void bindRadioGroup(QButtonGroup& group, UserDefaultsController& controller, const std::string& key) {
    group.setExclusive(true);
    QPointer<QButtonGroup> guard(&group);
    auto refresh = [guard, &controller, key] {
        if (!guard) return;
        QAbstractButton* button = guard->button(int(controller.integerValue(key)));
        if (!button) return;
        const QSignalBlocker quietGroup(guard.data());
        const QSignalBlocker quietButton(button);
        button->setChecked(true);
    };
    refresh();
    QObject::connect(&group, &QButtonGroup::idToggled, &group, [&controller, key](int id, bool checked) {
        if (checked) controller.setValue(key, std::int64_t(id));
    });
    observeWhileAlive(group, controller, key, refresh);
}

}  // namespace hw

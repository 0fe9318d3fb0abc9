#include "view/user_defaults_bindings.h"

#include <QAbstractButton>
#include <QButtonGroup>
#include <QComboBox>
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

// The position of the stored text among the values; -1 when absent.
int storedChoice(const UserDefaultsController& controller, const std::string& key,
                 const std::vector<std::string>& values) {
    const auto v = controller.value(key);
    const auto* text = v ? std::get_if<std::string>(&v->value) : nullptr;
    if (!text) return -1;
    for (std::size_t i = 0; i < values.size(); ++i)
        if (values[i] == *text) return int(i);
    return -1;
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

void bindTextChoice(QButtonGroup& group, UserDefaultsController& controller, const std::string& key,
                    std::vector<std::string> values) {
    QPointer<QButtonGroup> guard(&group);
    auto refresh = [guard, &controller, key, values] {
        if (!guard) return;
        const QSignalBlocker quietGroup(guard.data());
        const int chosen = storedChoice(controller, key, values);
        // An exclusive group cannot show "none": lift it while unchecking.
        guard->setExclusive(false);
        for (QAbstractButton* button : guard->buttons()) {
            const QSignalBlocker quietButton(button);
            button->setChecked(guard->id(button) == chosen);
        }
        guard->setExclusive(true);
    };
    refresh();
    QObject::connect(&group, &QButtonGroup::idToggled, &group, [&controller, key, values](int id, bool checked) {
        if (checked && id >= 0 && std::size_t(id) < values.size()) controller.setValue(key, values[std::size_t(id)]);
    });
    observeWhileAlive(group, controller, key, refresh);
}

void bindTextChoice(QComboBox& menu, UserDefaultsController& controller, const std::string& key,
                    std::vector<std::string> values) {
    QPointer<QComboBox> guard(&menu);
    auto refresh = [guard, &controller, key, values] {
        if (!guard) return;
        const QSignalBlocker quiet(guard.data());
        guard->setCurrentIndex(storedChoice(controller, key, values));
    };
    refresh();
    QObject::connect(&menu, &QComboBox::activated, &menu, [&controller, key, values](int index) {
        if (index >= 0 && std::size_t(index) < values.size()) controller.setValue(key, values[std::size_t(index)]);
    });
    observeWhileAlive(menu, controller, key, refresh);
}

}  // namespace hw

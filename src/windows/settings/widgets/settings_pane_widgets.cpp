#include "windows/settings/widgets/settings_pane_widgets.h"

#include <QHBoxLayout>
#include <QRadioButton>

#include "core/settings_user_defaults.h"
#include "view/kit_fonts.h"
#include "view/user_defaults_bindings.h"

namespace hw {

namespace {

QVBoxLayout* paneLayout(QWidget* pane, QLabel*& header) {
    auto* layout = new QVBoxLayout(pane);
    layout->setContentsMargins(32, 22, 32, 18);
    layout->setSpacing(8);
    header = makeSettingsHeader("", pane);
    layout->addWidget(header);
    layout->addSpacing(4);
    return layout;
}

}  // namespace

SettingsActionLink::SettingsActionLink(const std::string& title, QWidget* parent)
    : ActionLinkLabel(title, Color::fromRgba("#15A9EA"), parent) {}

// --- General ---

SettingsGeneralPaneWidget::SettingsGeneralPaneWidget(UserDefaultsController& settings, QWidget* parent)
    : SettingsViewDetailsSubView(parent), settings_(settings) {
    layout_ = paneLayout(this, header_);
    layout_->addStretch(1);
}

void SettingsGeneralPaneWidget::setHeaderText(const std::string& text) { header_->setText(QString::fromStdString(text)); }

void SettingsGeneralPaneWidget::showOptionBoxes(const std::vector<SettingsOptionBox>& boxes) {
    // Above the closing stretch.
    int at = layout_->count() - 1;
    for (const auto& [text, key] : boxes) {
        auto* box = makeSettingsCheckBox(text, this);
        bindCheckBox(*box, settings_, key);
        boxes_[key] = box;
        connect(box, &QCheckBox::toggled, this, [this] {
            if (controller_) controller_->onOptionChanged();
        });
        layout_->insertWidget(at++, box);
    }
}

// --- Protocol ---

SettingsProtocolPaneWidget::SettingsProtocolPaneWidget(UserDefaultsController& settings, QWidget* parent)
    : SettingsViewDetailsSubView(parent), settings_(settings), group_(new QButtonGroup(this)) {
    layout_ = paneLayout(this, header_);
    layout_->setSpacing(4);
    lockedNote_ = makeSettingsLockedNote(this);
    layout_->addWidget(lockedNote_);
    layout_->addStretch(1);
}

void SettingsProtocolPaneWidget::setHeaderText(const std::string& text) { header_->setText(QString::fromStdString(text)); }

void SettingsProtocolPaneWidget::showProtocolChoices(const std::vector<SettingsProtocolChoice>& choices) {
    int at = layout_->count() - 1;
    std::vector<std::string> stored;
    for (const auto& choice : choices) {
        auto* cell = new QRadioButton(QString::fromStdString(choice.title), this);
        cell->setFont(latoFont(600, 13));
        group_->addButton(cell, int(stored.size()));
        stored.emplace_back(rawValue(choice.protocol));
        layout_->insertWidget(at++, cell);
        QLabel* description = makeSettingsText(choice.description, this);
        // Under the cell's text, with room before the next cell.
        description->setContentsMargins(24, 0, 0, 8);
        layout_->insertWidget(at++, description);
    }
    bindTextChoice(*group_, settings_, SettingsUserDefaults::vpnProtocols, stored);
    connect(group_, &QButtonGroup::idToggled, this, [this](int, bool checked) {
        if (checked && controller_) controller_->onProtocolChosen();
    });
}

void SettingsProtocolPaneWidget::setProtocolsGroupEnabled(bool enabled) {
    for (QAbstractButton* cell : group_->buttons()) cell->setEnabled(enabled);
    lockedNote_->setHidden(enabled);
}

// --- Support ---

SettingsSupportPaneWidget::SettingsSupportPaneWidget(QWidget* parent) : SettingsViewDetailsSubView(parent) {
    QVBoxLayout* layout = paneLayout(this, header_);
    links_layout_ = new QVBoxLayout;
    links_layout_->setSpacing(10);
    layout->addLayout(links_layout_);
    layout->addSpacing(14);
    check_ = new QPushButton(this);
    connect(check_, &QPushButton::clicked, this, [this] {
        if (controller_) controller_->onCheckForUpdatesClick();
    });
    auto* row = new QHBoxLayout;
    row->addWidget(check_);
    row->addStretch(1);
    layout->addLayout(row);
    layout->addStretch(1);
    version_ = makeSettingsText("", this);
    layout->addWidget(version_);
}

void SettingsSupportPaneWidget::setHeaderText(const std::string& text) { header_->setText(QString::fromStdString(text)); }

void SettingsSupportPaneWidget::showLinks(const std::vector<std::string>& titles) {
    for (std::size_t i = 0; i < titles.size(); ++i) {
        auto* link = new SettingsActionLink(titles[i], this);
        link->customLinkClickHandler = [this, i](const std::string&) {
            if (controller_) controller_->onLinkClicked(int(i));
        };
        links_.push_back(link);
        links_layout_->addWidget(link, 0, Qt::AlignLeft);
    }
}

void SettingsSupportPaneWidget::setCheckForUpdatesTitle(const std::string& title) {
    check_->setText(QString::fromStdString(title));
    // Room around the title, as the window's other push buttons have.
    const QSize text = check_->fontMetrics().size(Qt::TextSingleLine, check_->text());
    check_->setFixedSize(text.width() + 40, std::max(30, text.height() + 14));
}

void SettingsSupportPaneWidget::setVersionText(const std::string& text) { version_->setText(QString::fromStdString(text)); }

}  // namespace hw

#include "view/qt_alert_view.h"

#include <QGuiApplication>
#include <QLabel>
#include <QGridLayout>
#include <QMessageBox>
#include <QPushButton>
#include <memory>

#include "texts/locale_data.h"

namespace hw {

namespace {

QMessageBox::Icon iconFor(AlertStyle style) {
    switch (style) {
        case AlertStyle::Warning: return QMessageBox::Warning;
        case AlertStyle::Critical: return QMessageBox::Critical;
        case AlertStyle::Informational: break;
    }
    return QMessageBox::Information;
}

}  // namespace

QMessageBox* QtAlertView::current() const { return current_.data(); }

void QtAlertView::presentAlert(const AlertRequest& request, std::function<void(int)> completion) {
    const bool sheet = request.modality == AlertModality::Sheet && parent_;
    auto* box = new QMessageBox(parent_.data());
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setIcon(iconFor(request.style));
    box->setTextFormat(Qt::PlainText);
    box->setWindowTitle(QGuiApplication::applicationDisplayName());
    box->setText(QString::fromStdString(request.title));
    box->setInformativeText(QString::fromStdString(request.message));
    // The informative label guesses its format from the text; backend texts stay plain.
    if (auto* informative = box->findChild<QLabel*>(QStringLiteral("qt_msgbox_informativelabel")))
        informative->setTextFormat(Qt::PlainText);

    std::vector<std::string> titles = request.buttons;
    if (titles.empty()) titles.push_back(LocaleData::notification_popup_ok_button());
    QList<QPushButton*> buttons;
    for (std::size_t i = 0; i < titles.size(); ++i) {
        const auto role = i == 0 ? QMessageBox::AcceptRole : i == 1 ? QMessageBox::RejectRole : QMessageBox::ActionRole;
        buttons.push_back(box->addButton(QString::fromStdString(titles[i]), role));
    }
    box->setDefaultButton(buttons.front());
    box->setEscapeButton(buttons.size() > 1 ? buttons[1] : buttons.front());

    auto done = std::make_shared<std::function<void(int)>>(std::move(completion));
    QObject::connect(box, &QDialog::finished, box, [box, buttons, done](int) {
        const auto index = buttons.indexOf(qobject_cast<QPushButton*>(box->clickedButton()));
        const int response = kAlertFirstButtonReturn + static_cast<int>(index < 0 ? (buttons.size() > 1 ? 1 : 0) : index);
        if (auto run = std::exchange(*done, nullptr)) run(response);
    });

    // Wide enough that a window manager never cuts the title; the box sizes
    // itself from its layout, so the width goes in as a spacer.
    if (auto* grid = qobject_cast<QGridLayout*>(box->layout()))
        grid->addItem(new QSpacerItem(kMinimumAlertWidth, 0, QSizePolicy::Minimum, QSizePolicy::Expanding),
                      grid->rowCount(), 0, 1, grid->columnCount());

    box->setWindowModality(sheet ? Qt::WindowModal : Qt::ApplicationModal);
    current_ = box;
    box->show();
}

}  // namespace hw

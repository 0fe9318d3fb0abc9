#pragma once
#include <QAbstractListModel>
#include <QImage>
#include <memory>
#include <string>
#include <unordered_map>
#include <unordered_set>

#include "windows/shared/locations_table_view_model.h"
#include "windows/shared/remote_image_loader.h"

namespace hw {

// The Qt model over a locations table's view-model: one column, rows as the
// view-model serves them. Flags come from the image loader by file and
// repaint only the rows that show that file.
class LocationsTableQtModel : public QAbstractListModel {
    Q_OBJECT
public:
    enum Role {
        KindRole = Qt::UserRole + 1,
        SelectedRole,
        BackgroundRole,
        FavoriteRole,
        StarEnabledRole,
        FlagRole,
    };

    LocationsTableQtModel(LocationsTableViewModel& viewModel, RemoteImageLoader& images, QObject* parent = nullptr);
    ~LocationsTableQtModel() override;

    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

    LocationsTableViewModel& viewModel() const { return viewModel_; }

private:
    QImage flagFor(const LocationsListItemModel& item) const;
    void flagArrived(const std::string& key, const ImagePtr& image);

    LocationsTableViewModel& viewModel_;
    RemoteImageLoader& images_;
    // QImages wrap the decoded pixels without copying them.
    mutable std::unordered_map<std::string, QImage> flags_;
    mutable std::unordered_set<std::string> requested_;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

}  // namespace hw

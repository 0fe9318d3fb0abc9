#include "windows/shared/widgets/locations_table_qt_model.h"

#include "view/kit_color.h"

namespace hw {

namespace {

QImage wrap(const ImagePtr& image) {
    if (!image || !image->isValid()) return {};
    // The QImage borrows the pixels; the cleanup keeps the shared image alive as long as it lives.
    auto* keep = new ImagePtr(image);
    return QImage(image->rgba.data(), image->width, image->height, image->width * 4, QImage::Format_RGBA8888,
                  [](void* p) { delete static_cast<ImagePtr*>(p); }, keep);
}

}  // namespace

LocationsTableQtModel::LocationsTableQtModel(LocationsTableViewModel& viewModel, RemoteImageLoader& images,
                                             QObject* parent)
    : QAbstractListModel(parent), viewModel_(viewModel), images_(images) {
    viewModel_.onWillReset = [this] {
        beginResetModel();
        // Files that failed are asked again after a reload, not at every repaint.
        std::erase_if(requested_, [this](const std::string& key) { return !flags_.contains(key); });
    };
    viewModel_.onDidReset = [this] { endResetModel(); };
    // ---- Locations window: a favourite's row moves ----
    viewModel_.onWillMoveRow = [this](int from, int to) { beginMoveRows({}, from, from, {}, to); };
    viewModel_.onDidMoveRow = [this] { endMoveRows(); };
    viewModel_.onAllRowsChanged = [this] {
        if (rowCount() > 0) emit dataChanged(index(0), index(rowCount() - 1), {StarEnabledRole});
    };
    viewModel_.onRowChanged = [this](int row) {
        if (row < 0 || row >= rowCount()) return;
        const auto i = index(row);
        emit dataChanged(i, i);
    };
}

LocationsTableQtModel::~LocationsTableQtModel() {
    *alive_ = false;
    viewModel_.onWillReset = nullptr;
    viewModel_.onDidReset = nullptr;
    viewModel_.onWillMoveRow = nullptr;
    viewModel_.onDidMoveRow = nullptr;
    viewModel_.onRowChanged = nullptr;
    viewModel_.onAllRowsChanged = nullptr;
}

int LocationsTableQtModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : viewModel_.rowCount();
}

Qt::ItemFlags LocationsTableQtModel::flags(const QModelIndex& index) const {
    if (!index.isValid()) return Qt::NoItemFlags;
    // Selection is the gate's: the view paints the selected look from the view-model.
    return Qt::ItemIsEnabled | Qt::ItemNeverHasChildren;
}

QVariant LocationsTableQtModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rowCount()) return {};
    const int row = index.row();
    switch (role) {
        case Qt::DisplayRole:
            return QString::fromStdString(viewModel_.titleOfRow(row));
        case Qt::SizeHintRole:
            return QSize(0, static_cast<int>(viewModel_.heightOfRow(row)));
        case KindRole:
            return static_cast<int>(viewModel_.kindOfRow(row));
        case SelectedRole:
            return viewModel_.isSelectedRow(row);
        case BackgroundRole:
            return kitColor(viewModel_.backgroundOfRow(row));
        case FavoriteRole: {
            auto item = viewModel_.itemAtRow(row);
            return item && item->isFavorite;
        }
        case StarEnabledRole:
            return viewModel_.starsEnabled();
        case FlagRole: {
            auto item = viewModel_.itemAtRow(row);
            if (!item || item->isGroupItem) return {};
            return flagFor(*item);
        }
        default:
            return {};
    }
}

QImage LocationsTableQtModel::flagFor(const LocationsListItemModel& item) const {
    if (!item.flag) return {};
    const auto key = RemoteImageLoader::keyOf(*item.flag);
    if (auto it = flags_.find(key); it != flags_.end()) return it->second;
    if (auto cached = images_.cached(key)) return flags_[key] = wrap(cached);
    if (requested_.insert(key).second) {
        std::weak_ptr<bool> alive = alive_;
        auto* self = const_cast<LocationsTableQtModel*>(this);
        images_.load(item.flag, [alive, self, key](ImagePtr image) {
            if (auto a = alive.lock(); a && *a) self->flagArrived(key, image);
        });
    }
    return {};
}

void LocationsTableQtModel::flagArrived(const std::string& key, const ImagePtr& image) {
    if (!image) return;  // the row shows no flag until the next reload asks again
    flags_[key] = wrap(image);
    for (int row : viewModel_.rowsShowingFlag(key)) {
        if (row >= rowCount()) continue;
        const auto i = index(row);
        emit dataChanged(i, i, {FlagRole});
    }
}

}  // namespace hw

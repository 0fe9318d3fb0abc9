#pragma once
#include <QImage>
#include <QWidget>
#include <memory>

#include "platform/backend/parse_file.h"

namespace hw {

class RemoteImageLoader;

// An image view fed by a backend file: the previous image stays until the
// new one arrives; whichever request answers last wins; none keeps the image.
class RemoteFileImageView : public QWidget {
    Q_OBJECT
public:
    RemoteFileImageView(RemoteImageLoader& images, QWidget* parent = nullptr);
    ~RemoteFileImageView() override;
    void setFile(const ParseFilePtr& file);
    const ParseFilePtr& file() const { return file_; }
    const QImage& image() const { return image_; }
    void setImage(const QImage& image);

protected:
    void paintEvent(QPaintEvent* event) override;
    virtual void drawImage(QPainter& painter);

private:
    RemoteImageLoader& images_;
    ParseFilePtr file_;
    QImage image_;
    std::shared_ptr<RemoteFileImageView*> self_;
};

// The shown location's flag, round-framed.
class LocationFlagImageView final : public RemoteFileImageView {
    Q_OBJECT
public:
    using RemoteFileImageView::RemoteFileImageView;
    void setFlagImage(const ParseFilePtr& file) { setFile(file); }

protected:
    void drawImage(QPainter& painter) override;
};

// The bottom bar's icon.
class FooterIconView final : public RemoteFileImageView {
    Q_OBJECT
public:
    using RemoteFileImageView::RemoteFileImageView;
    void setFooterIcon(const ParseFilePtr& file) { setFile(file); }
};

}  // namespace hw

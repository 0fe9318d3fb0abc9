#include "platform/qt/qt_url_opener.h"

#include <QDesktopServices>
#include <QUrl>

namespace hw {

bool QtURLOpener::openAllowedURL(const std::string& url) {
    const QUrl parsed(QString::fromStdString(url), QUrl::StrictMode);
    if (!parsed.isValid()) return false;
    return QDesktopServices::openUrl(parsed);
}

}  // namespace hw

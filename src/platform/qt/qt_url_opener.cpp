#include "platform/qt/qt_url_opener.h"

#include <QProcess>
#include <QStringList>
#include <QUrl>

namespace hw {

bool QtURLOpener::openAllowedURL(const std::string& url) {
    const QUrl parsed(QString::fromStdString(url), QUrl::StrictMode);
    if (!parsed.isValid()) return false;
    // The desktop's opener repeats an address it cannot open on its error
    // output, and an account link carries the user's sign-in: that output
    // must not reach ours, which lands in the user's terminal and logs.
    QProcess opener;
    opener.setProgram(QStringLiteral("xdg-open"));
    opener.setArguments({parsed.toString(QUrl::FullyEncoded)});
    opener.setStandardInputFile(QProcess::nullDevice());
    opener.setStandardOutputFile(QProcess::nullDevice());
    opener.setStandardErrorFile(QProcess::nullDevice());
    return opener.startDetached();
}

}  // namespace hw

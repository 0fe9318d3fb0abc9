#pragma once
#include <QSslCertificate>
#include <QString>
#include <QWebEnginePage>
#include <QWebEngineUrlSchemeHandler>
#include <functional>
#include <string>

namespace hw {

// The page behind the enterprise view: refuses navigations to the
// application's scheme and hands them on, turns host.log() into log lines,
// and trusts the test CA only while one is configured.
class EnterprisePage final : public QWebEnginePage {
    Q_OBJECT
public:
    EnterprisePage(QWebEngineProfile* profile, QObject* parent, std::function<void(const std::string&)> handleURL,
                   QString logMarker, QString paintMarker = {});
    ~EnterprisePage() override;

Q_SIGNALS:
    // Our page has put its first frame on screen.
    void painted();

protected:
    bool acceptNavigationRequest(const QUrl& url, NavigationType type, bool isMainFrame) override;
    void javaScriptConsoleMessage(JavaScriptConsoleMessageLevel level, const QString& message, int lineNumber,
                                  const QString& sourceID) override;

private:
    std::function<void(const std::string&)> handleURL_;
    QString logMarker_;
    QString paintMarker_;
    bool hostInstalled_ = false;
    // This load's navigation was the identity service's answer, refused and handed on.
    bool handedOver_ = false;
};

// Takes every request for the application's scheme, redirects included:
// refused, and handed to the shell instead.
class ApplicationSchemeHandler final : public QWebEngineUrlSchemeHandler {
    Q_OBJECT
public:
    ApplicationSchemeHandler(QObject* parent, std::function<void(const std::string&)> handleURL);
    void requestStarted(QWebEngineUrlRequestJob* job) override;

private:
    std::function<void(const std::string&)> handleURL_;
};

// Whether the chain (leaf first) is signed link by link up to the CA.
bool certificateChainRootedIn(const QList<QSslCertificate>& chain, const QSslCertificate& ca);

// The script that gives our page its host object; the marker tags its log lines.
// With a paint marker it also reports, once, that the page's first frame is up.
QString enterpriseHostScript(const QString& logMarker, const QString& hostName, const QString& paintMarker = {});

}  // namespace hw

#pragma once
#include <QPointer>
#include <functional>
#include <map>
#include <memory>
#include <string>

class QNetworkCookie;
class QWebEngineProfile;
class QWebEngineView;
class QWidget;

namespace hw {

class EnterprisePage;
class SettingsStore;

// The enterprise sign-in page: a web view on an off-the-record profile that
// loads our page, gives its scripts a small `host` object, hands the identity
// service's redirect to the application's URL handler, and keeps the page's
// cookies. Chromium starts only when the page is first prepared. Main thread only.
class EnterpriseService {
public:
    static constexpr char kCookiesKey[] = "cookies";

    // handleURL receives every navigation to the application's own scheme.
    EnterpriseService(SettingsStore& store, std::function<void(const std::string& url)> handleURL);
    ~EnterpriseService();
    EnterpriseService(const EnterpriseService&) = delete;
    EnterpriseService& operator=(const EnterpriseService&) = delete;

    // Makes the view on first use, inside parent, and loads the page again.
    QWebEngineView* prepareEnterpriseVersionUI(QWidget* parent);
    QWebEngineView* view() const;

    // Forgets every cookie of the page, stored ones included.
    void clearCookies();
    // Keeps the page's cookies in the settings file, and puts them back.
    void saveCookies();
    void restoreCookies();

    // Makes the application's scheme known to Chromium, so that the identity
    // service's redirect to it reaches us. Before the application is made.
    static void registerURLScheme();
    // Keeps Chromium's own chatter out of the log. Before Chromium starts.
    static void quietChromiumLog();

    // What host.hostName() answers.
    static const char* hostName();
    // The page's address, carrying the identity service's sign-in address.
    static std::string pageURL();

private:
    void makeProfile();
    // A fresh page on the current profile, in the view.
    void makePage(QWebEngineView* view);
    static std::string cookieKey(const QNetworkCookie& cookie);

    SettingsStore& store_;
    std::function<void(const std::string&)> handleURL_;
    QWebEngineProfile* profile_ = nullptr;
    QPointer<QWebEngineView> view_;
    // The view's page, which the view does not own.
    QPointer<EnterprisePage> page_;
    // Over the view until its page's first frame.
    QPointer<QWidget> cover_;
    // What the profile holds now, as its store reports it.
    std::map<std::string, QByteArray> cookies_;
};

}  // namespace hw

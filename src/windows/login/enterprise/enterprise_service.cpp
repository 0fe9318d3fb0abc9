#include "windows/login/enterprise/enterprise_service.h"

#include <QEvent>
#include <QLoggingCategory>
#include <QNetworkCookie>
#include <QUrl>
#include <QUrlQuery>
#include <QUuid>
#include <QWebEngineCookieStore>
#include <QWebEngineProfile>
#include <QWebEngineScript>
#include <QWebEngineScriptCollection>
#include <QWebEngineSettings>
#include <QWebEngineUrlScheme>
#include <QWebEngineView>

#include "core/global_constants.h"
#include "view/color_fill_views.h"
#include "platform/log.h"
#include "platform/settings_store.h"
#include "windows/login/enterprise/enterprise_page.h"
#include "windows/login/enterprise/native_background.h"

static void initWebPage() { Q_INIT_RESOURCE(web); }

namespace hw {
namespace {
constexpr char kLog[] = "EnterpriseService";

// Chromium shows black until a new page's first frame: the window's own
// colour stands over the view until then.
class FirstPaintCover final : public CustomNSView {
public:
    explicit FirstPaintCover(QWidget* view) : CustomNSView(view) {
        view->installEventFilter(this);
        setGeometry(view->rect());
        raise();
        show();
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched == parent() && (event->type() == QEvent::Resize || event->type() == QEvent::ChildAdded)) {
            setGeometry(parentWidget()->rect());
            raise();
        }
        return false;
    }
};
}  // namespace

EnterpriseService::EnterpriseService(SettingsStore& store, std::function<void(const std::string& url)> handleURL)
    : store_(store), handleURL_(std::move(handleURL)) {}

EnterpriseService::~EnterpriseService() {
    // Pages go before their profile.
    delete view_.data();
    delete profile_;
}

void EnterpriseService::registerURLScheme() {
    if (QWebEngineUrlScheme::schemeByName("havenway").name() == "havenway") return;
    QWebEngineUrlScheme scheme("havenway");
    scheme.setSyntax(QWebEngineUrlScheme::Syntax::Path);
    QWebEngineUrlScheme::registerScheme(scheme);
}

void EnterpriseService::quietChromiumLog() {
    // Chromium's start-up report and the GPU retries it recovers from say
    // nothing to the user; the page's real failures are logged by the page.
    // Rules or flags the user sets in the environment still win.
    QLoggingCategory::setFilterRules(QStringLiteral("qt.webenginecontext.info=false"));
    QByteArray flags = qgetenv("QTWEBENGINE_CHROMIUM_FLAGS");
    if (flags.contains("--log-level")) return;
    flags += flags.isEmpty() ? "--log-level=3" : " --log-level=3";
    qputenv("QTWEBENGINE_CHROMIUM_FLAGS", flags);
}

QWebEngineView* EnterpriseService::view() const { return view_.data(); }

const char* EnterpriseService::hostName() { return "MacOS X WebKit"; }

std::string EnterpriseService::pageURL() {
    QUrl authorize(QString::fromStdString(GlobalConstants::oauthAuthorizeURL()));
    QUrlQuery authorizeQuery;
    authorizeQuery.addQueryItem("client_id", GlobalConstants::oauthClientID);
    authorizeQuery.addQueryItem("redirect_uri", GlobalConstants::oauthCallbackURL);
    authorizeQuery.addQueryItem("response_type", "code");
    authorize.setQuery(authorizeQuery);
    QUrl page(QStringLiteral("qrc:/web/main.html"));
    QUrlQuery query;
    query.addQueryItem("authorize", QString::fromUtf8(QUrl::toPercentEncoding(authorize.toString(QUrl::FullyEncoded))));
    page.setQuery(query);
    return page.toString(QUrl::FullyEncoded).toStdString();
}

std::string EnterpriseService::cookieKey(const QNetworkCookie& cookie) {
    return (cookie.name() + '\x1f' + cookie.domain().toUtf8() + '\x1f' + cookie.path().toUtf8()).toStdString();
}

void EnterpriseService::makeProfile() {
    static const bool registered = (initWebPage(), true);
    (void)registered;
    // No storage name: off the record, nothing written by Chromium itself.
    profile_ = new QWebEngineProfile();
    if (QWebEngineUrlScheme::schemeByName("havenway").name() == "havenway") {
        // A second road for requests that reach the network layer.
        profile_->installUrlSchemeHandler("havenway", new ApplicationSchemeHandler(profile_, handleURL_));
    }
    QWebEngineCookieStore* cookies = profile_->cookieStore();
    QObject::connect(cookies, &QWebEngineCookieStore::cookieAdded, profile_, [this](const QNetworkCookie& c) {
        cookies_[cookieKey(c)] = c.toRawForm(QNetworkCookie::Full);
    });
    QObject::connect(cookies, &QWebEngineCookieStore::cookieRemoved, profile_,
                     [this](const QNetworkCookie& c) { cookies_.erase(cookieKey(c)); });
}

void EnterpriseService::makePage(QWebEngineView* view) {
    const QString marker = QUuid::createUuid().toString(QUuid::WithoutBraces) + QLatin1Char(':');
    const QString paintMarker = QUuid::createUuid().toString(QUuid::WithoutBraces);
    delete cover_.data();
    auto* cover = new FirstPaintCover(view);
    cover_ = cover;
    auto* page = new EnterprisePage(profile_, view, handleURL_, marker, paintMarker);
    page->setBackgroundColor(cover->fillColor());
    QObject::connect(page, &EnterprisePage::painted, cover, &QObject::deleteLater);
    page->settings()->setAttribute(QWebEngineSettings::JavascriptEnabled, true);
    page->settings()->setAttribute(QWebEngineSettings::JavascriptCanOpenWindows, true);
    QWebEngineScript host;
    host.setName(QStringLiteral("havenway-host"));
    host.setInjectionPoint(QWebEngineScript::DocumentCreation);
    host.setWorldId(QWebEngineScript::MainWorld);
    host.setRunsOnSubFrames(false);
    host.setSourceCode(enterpriseHostScript(marker, QString::fromLatin1(hostName()), paintMarker));
    page->scripts().insert(host);
    // A view keeps only a page it made itself: ours goes here, before anything
    // releases the profile it was made on.
    EnterprisePage* old = page_;
    view->setPage(page);
    page_ = page;
    delete old;
}

QWebEngineView* EnterpriseService::prepareEnterpriseVersionUI(QWidget* parent) {
    if (!profile_) makeProfile();
    if (!view_) {
        auto* view = new QWebEngineView(parent);
        makePage(view);
        view_ = view;
        // The window is black until its first frame, which waits for the page's GL composition.
        if (parent) fillNativeWindowWith(parent->window(), static_cast<CustomNSView*>(cover_.data())->fillColor());
    }
    view_->load(QUrl(QString::fromStdString(pageURL())));
    return view_;
}

void EnterpriseService::clearCookies() {
    // The next person's sign-in must not reuse this one's cached pages nor
    // the HTTP authentication Chromium keeps in the profile's memory, which
    // no call clears: the profile itself is replaced.
    if (profile_) {
        profile_->cookieStore()->deleteAllCookies();
        profile_->clearHttpCache();
        profile_->clearAllVisitedLinks();
        QWebEngineProfile* old = profile_;
        makeProfile();
        if (view_) makePage(view_);
        // Only once no page of its own is left (makePage has deleted the last).
        delete old;
        // A page on screen starts over at once; a hidden one when it is next prepared.
        if (view_ && view_->isVisible()) view_->load(QUrl(QString::fromStdString(pageURL())));
    }
    cookies_.clear();
    store_.remove(kCookiesKey);
    store_.synchronize();
    log::info(kLog, "cookies reseted!");
}

void EnterpriseService::saveCookies() {
    QByteArray all;
    for (const auto& [key, raw] : cookies_) {
        if (!all.isEmpty()) all += '\n';
        all += raw;
    }
    store_.set(kCookiesKey, Bytes(all.begin(), all.end()));
    store_.synchronize();
}

void EnterpriseService::restoreCookies() {
    const auto data = store_.dataForKey(kCookiesKey);
    if (!data || data->empty()) return;
    if (!profile_) makeProfile();
    const QByteArray all(reinterpret_cast<const char*>(data->data()), qsizetype(data->size()));
    for (const QByteArray& line : all.split('\n')) {
        for (const QNetworkCookie& cookie : QNetworkCookie::parseCookies(line)) {
            profile_->cookieStore()->setCookie(cookie);
        }
    }
}

}  // namespace hw

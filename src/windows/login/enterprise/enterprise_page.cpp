#include "windows/login/enterprise/enterprise_page.h"

#include <openssl/x509.h>

#include <QTimer>
#include <QWebEngineCertificateError>
#include <QWebEngineUrlRequestJob>
#include <QUrl>
#include <memory>
#include <utility>

#include "platform/log.h"

namespace hw {
namespace {

constexpr char kLog[] = "EnterpriseService";

using X509Ptr = std::unique_ptr<X509, decltype(&X509_free)>;

X509Ptr toX509(const QSslCertificate& certificate) {
    const QByteArray der = certificate.toDer();
    const auto* bytes = reinterpret_cast<const unsigned char*>(der.constData());
    return X509Ptr(d2i_X509(nullptr, &bytes, der.size()), &X509_free);
}

// JavaScript string literal of a text: every character outside plain ASCII
// letters and digits escaped, so no text can end the literal.
QString jsString(const QString& text) {
    QString out = QStringLiteral("\"");
    for (QChar c : text) {
        if (c.isLetterOrNumber() && c.unicode() < 128) {
            out += c;
        } else {
            out += QStringLiteral("\\u%1").arg(c.unicode(), 4, 16, QLatin1Char('0'));
        }
    }
    return out + QStringLiteral("\"");
}

}  // namespace

bool certificateChainRootedIn(const QList<QSslCertificate>& chain, const QSslCertificate& ca) {
    if (chain.isEmpty() || ca.isNull()) return false;
    const X509Ptr root = toX509(ca);
    if (!root) return false;
    for (qsizetype i = 0; i < chain.size(); ++i) {
        if (chain[i] == ca) return true;
        const X509Ptr certificate = toX509(chain[i]);
        const X509Ptr issuer = i + 1 < chain.size() ? toX509(chain[i + 1]) : toX509(ca);
        if (!certificate || !issuer) return false;
        EVP_PKEY* key = X509_get0_pubkey(issuer.get());
        if (!key || X509_verify(certificate.get(), key) != 1) return false;
    }
    return true;
}

QString enterpriseHostScript(const QString& logMarker, const QString& hostName, const QString& paintMarker) {
    // Only our own page gets the object, and it has exactly these two members.
    // A frame requested inside a frame callback runs once the first has been drawn.
    const QString paint = paintMarker.isEmpty()
                              ? QString()
                              : QStringLiteral("  var painted = %1;\n"
                                               "  requestAnimationFrame(function () {\n"
                                               "    requestAnimationFrame(function () { console.log(painted); });\n"
                                               "  });\n")
                                    .arg(jsString(paintMarker));
    return QStringLiteral(
               "(function () {\n"
               "  if (window.location.protocol !== 'qrc:') return;\n"
               "  var marker = %1;\n"
               "  var host = Object.freeze({\n"
               "    log: function (text) { console.log(marker + String(text)); },\n"
               "    hostName: function () { return %2; }\n"
               "  });\n"
               "  Object.defineProperty(window, 'host', {value: host, enumerable: true});\n"
               "%3"
               "})();\n")
        .arg(jsString(logMarker), jsString(hostName), paint);
}

EnterprisePage::EnterprisePage(QWebEngineProfile* profile, QObject* parent,
                               std::function<void(const std::string&)> handleURL, QString logMarker,
                               QString paintMarker)
    : QWebEnginePage(profile, parent),
      handleURL_(std::move(handleURL)),
      logMarker_(std::move(logMarker)),
      paintMarker_(std::move(paintMarker)) {
    connect(this, &QWebEnginePage::certificateError, this, [](const QWebEngineCertificateError& error) {
        QWebEngineCertificateError answer = error;
        const QByteArray caFile = qgetenv("HAVENWAY_TEST_CA");
        if (caFile.isEmpty() || error.type() != QWebEngineCertificateError::CertificateAuthorityInvalid) {
            answer.rejectCertificate();
            return;
        }
        const auto cas = QSslCertificate::fromPath(QString::fromLocal8Bit(caFile), QSsl::Pem);
        if (!cas.isEmpty() && certificateChainRootedIn(error.certificateChain(), cas.first())) {
            answer.acceptCertificate();
        } else {
            log::warning(kLog, "certificate refused: not issued by the test CA");
            answer.rejectCertificate();
        }
    });
    // Each load's document gets a host object of its own; the next load, or
    // the page's end, takes the last one away.
    connect(this, &QWebEnginePage::loadStarted, this, [this] {
        if (std::exchange(hostInstalled_, true)) log::info(kLog, "JsHost destroy.");
    });
    // Chromium's own log is kept quiet (see the edition's start); what fails here is ours to say.
    connect(this, &QWebEnginePage::loadFinished, this, [this](bool ok) {
        // Refusing the identity service's answer, which went to the shell, ends the load too.
        if (std::exchange(handedOver_, false) || ok) return;
        log::warning(kLog, "the sign-in page did not load");
        Q_EMIT painted();  // Chromium's error page is what there is to see
    });
    connect(this, &QWebEnginePage::renderProcessTerminated, this, [](RenderProcessTerminationStatus status, int code) {
        if (status == NormalTerminationStatus) return;
        log::error(kLog, "the sign-in page's renderer ended abnormally, code " + std::to_string(code));
    });
}

EnterprisePage::~EnterprisePage() {
    if (hostInstalled_) log::info(kLog, "JsHost destroy.");
}

ApplicationSchemeHandler::ApplicationSchemeHandler(QObject* parent, std::function<void(const std::string&)> handleURL)
    : QWebEngineUrlSchemeHandler(parent), handleURL_(std::move(handleURL)) {}

void ApplicationSchemeHandler::requestStarted(QWebEngineUrlRequestJob* job) {
    const std::string text = job->requestUrl().toString(QUrl::FullyEncoded).toStdString();
    job->fail(QWebEngineUrlRequestJob::RequestDenied);
    QTimer::singleShot(0, this, [this, text] {
        if (handleURL_) handleURL_(text);
    });
}

bool EnterprisePage::acceptNavigationRequest(const QUrl& url, NavigationType, bool) {
    if (url.scheme() != QLatin1String("havenway")) return true;
    // The identity service's answer: never loaded, handed to the shell
    // after this navigation has been refused.
    const std::string text = url.toString(QUrl::FullyEncoded).toStdString();
    handedOver_ = true;
    QTimer::singleShot(0, this, [this, text] {
        if (handleURL_) handleURL_(text);
    });
    return false;
}

void EnterprisePage::javaScriptConsoleMessage(JavaScriptConsoleMessageLevel, const QString& message, int,
                                              const QString&) {
    if (url().scheme() != QLatin1String("qrc")) return;
    if (!paintMarker_.isEmpty() && message == paintMarker_) {
        Q_EMIT painted();
        return;
    }
    if (!message.startsWith(logMarker_)) return;
    QString text = message.mid(logMarker_.size());
    text.replace(QLatin1Char('\n'), QLatin1Char(' ')).replace(QLatin1Char('\r'), QLatin1Char(' '));
    log::info(kLog, "JavaScript: " + text.toStdString());
}

}  // namespace hw

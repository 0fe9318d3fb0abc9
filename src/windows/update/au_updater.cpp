#include "windows/update/au_updater.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>

#include "platform/log.h"

namespace hw {

namespace {

constexpr const char* kLog = "AUUpdater";
constexpr const char* kBundleName = "Havenway";
constexpr const char* kScriptInBundle = "share/havenway/install-update.sh";

bool isExecutableFile(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::access(path.c_str(), X_OK) == 0;
}

bool isRegularFile(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool startsWith(const std::string& s, const char* prefix) { return s.rfind(prefix, 0) == 0; }

}  // namespace

std::optional<AUBundle> AUBundle::fromExecutable(const std::string& executablePath, std::string* why) {
    auto refuse = [&](const std::string& reason) -> std::optional<AUBundle> {
        if (why) *why = reason;
        return std::nullopt;
    };
    namespace fs = std::filesystem;
    const fs::path exe(executablePath);
    if (!exe.is_absolute()) return refuse("the executable's path is not absolute");
    const fs::path bundle = exe.parent_path().parent_path();
    if (bundle.filename() != kBundleName) return refuse("not inside a " + std::string(kBundleName) + " folder");
    AUBundle b{bundle.string(), (bundle / kScriptInBundle).string()};
    if (!isExecutableFile((bundle / "bin/havenway").string())) return refuse("no bin/havenway in the bundle");
    if (!isRegularFile(b.installScript)) return refuse("no install script in the bundle");
    // The swap renames the bundle inside its parent.
    if (::access(b.path.c_str(), W_OK) != 0 || ::access(bundle.parent_path().c_str(), W_OK) != 0) {
        return refuse("the bundle cannot be replaced by this user");
    }
    return b;
}

AUUpdater::AUUpdater(AUUpdaterPorts ports, std::string host, std::string channel, std::int64_t percentile)
    : ports_(std::move(ports)), host_(std::move(host)), channel_(std::move(channel)), percentile_(percentile) {
    refreshDestination();
}

AUUpdater::~AUUpdater() {
    *alive_ = false;
    if (download_) download_->cancel();
}

bool AUUpdater::refreshDestination() {
    const auto dir = ports_.applicationSupportDirectory ? ports_.applicationSupportDirectory() : std::nullopt;
    destination_ = dir ? *dir + "/" + kArchiveName : std::string();
    return dir.has_value();
}

double AUUpdater::progress() const {
    // The length is -1 when the server does not give one.
    if (totalBytes_ <= 0) return 0.0;
    return std::clamp(static_cast<double>(downloadedBytes_) / static_cast<double>(totalBytes_), 0.0, 1.0);
}

void AUUpdater::setState(AUUpdaterState state) {
    state_ = state;
    report(state);
}

void AUUpdater::report(AUUpdaterState state) {
    if (delegate_) delegate_->updaterDidChangeState(*this, state);
}

void AUUpdater::downloadUpdate() {
    cancelUpdateDownload();
    state_ = AUUpdaterState::Idle;
    checkForUpdates();
}

void AUUpdater::checkForUpdates() {
    if (state_ != AUUpdaterState::Idle) return;
    ++retryGeneration_;
    totalBytes_ = 0;
    downloadedBytes_ = 0;
    critical_ = false;
    setState(AUUpdaterState::Downloading);
    if (state_ != AUUpdaterState::Downloading) return;  // the delegate cancelled

    if (!startsWith(host_, "https://")) return didFail("the update address is not https");
    if (!refreshDestination()) return didFail("no application-support folder");
    log::info(kLog, "downloading " + host_.substr(0, host_.find_first_of("?#")));
    FileDownloadEvents events;
    events.response = [this](const FileDownloadResponse& r) { didReceiveResponse(r); };
    events.block = [this](std::int64_t length) { didReceiveBlock(length); };
    events.finished = [this] { didFinish(); };
    events.failed = [this](const std::string& reason) { didFail(reason); };
    download_ = ports_.download.start({host_, destination_, 15.0}, std::move(events));
}

void AUUpdater::didReceiveResponse(const FileDownloadResponse& response) {
    if (response.status < 200 || response.status > 299) {
        // An error page must never be offered for installation.
        if (download_) download_->cancel();
        return didFail("status " + std::to_string(response.status));
    }
    const auto it = response.headers.find("content-disposition");
    critical_ = it != response.headers.end() && it->second.find("critical") != std::string::npos;
    totalBytes_ = response.expectedLength;
    downloadedBytes_ = 0;
    if (delegate_) delegate_->updaterDidChangeProgress(*this, progress());
}

void AUUpdater::didReceiveBlock(std::int64_t length) {
    downloadedBytes_ += length;
    if (delegate_) delegate_->updaterDidChangeProgress(*this, progress());
}

void AUUpdater::didFinish() {
    download_.reset();
    attemptsIfDownloadFailed_ = 0;
    setState(AUUpdaterState::Downloaded);
    ports_.queue.post([this, alive = std::weak_ptr<bool>(alive_)] {
        if (alive.expired() || state_ != AUUpdaterState::Downloaded) return;
        if (delegate_) delegate_->updaterWantsToInstallUpdateWithCriticalStatus(*this, critical_);
    });
}

void AUUpdater::didFail(const std::string& reason) {
    log::warning(kLog, "download failed: " + reason);
    download_.reset();
    totalBytes_ = 0;
    downloadedBytes_ = 0;
    setState(AUUpdaterState::Idle);
    if (attemptsIfDownloadFailed_ < 1) {
        ++attemptsIfDownloadFailed_;
        ports_.queue.postAfter(interval_ * 1000.0,
                               [this, alive = std::weak_ptr<bool>(alive_), generation = ++retryGeneration_] {
                                   if (!alive.expired() && generation == retryGeneration_) checkForUpdates();
                               });
        return;
    }
    attemptsIfDownloadFailed_ = 0;
    lastFailure_ = AUUpdaterFailure::Download;
    report(AUUpdaterState::Failed);
}

void AUUpdater::cancelUpdateDownload() {
    ++retryGeneration_;
    if (download_) {
        download_->cancel();
        download_.reset();
    }
    attemptsIfDownloadFailed_ = 0;
    if (state_ == AUUpdaterState::Downloading) {
        // Otherwise nothing would ever take the state back from 1.
        state_ = AUUpdaterState::Idle;
        totalBytes_ = 0;
        downloadedBytes_ = 0;
    }
}

void AUUpdater::deleteDownloadedUpdate() {
    if (!destination_.empty()) std::remove(destination_.c_str());
}

bool AUUpdater::installUpdate() {
    if (state_ != AUUpdaterState::Downloaded) return false;
    totalBytes_ = 0;
    downloadedBytes_ = 0;
    setState(AUUpdaterState::Installing);

    std::string why;
    const auto bundle = AUBundle::fromExecutable(ports_.executablePath, &why);
    bool started = false;
    if (bundle) {
        ProcessLauncher::Environment env;
        for (const char* name : {"PATH", "USER", "HOME", "SHELL"}) {
            const char* value = ports_.getenv ? ports_.getenv(name) : nullptr;
            if (value) env.emplace_back(name, value);
        }
        started = ports_.launcher.launch(bundle->installScript, {destination_, bundle->path}, env, &why);
    }
    if (started) {
        log::info(kLog, "install script started for " + bundle->path);
        return true;
    }
    log::error(kLog, "cannot install the update: " + why);
    // Nothing could ever install this archive here; a new request
    // downloads afresh.
    deleteDownloadedUpdate();
    lastFailure_ = AUUpdaterFailure::Install;
    setState(AUUpdaterState::Idle);
    report(AUUpdaterState::Failed);
    return false;
}

}  // namespace hw

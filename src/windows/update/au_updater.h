#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/file_download.h"
#include "platform/main_queue.h"
#include "platform/process_launcher.h"

namespace hw {

enum class AUUpdaterState : std::int32_t {
    Idle = 0,
    Downloading = 1,
    Downloaded = 2,
    Installing = 3,
    // Only ever reported, never stored.
    Failed = 4,
};

class AUUpdater;

// What the last report of AUUpdaterState::Failed was about.
enum class AUUpdaterFailure : std::int32_t {
    Download = 0,
    // The archive is there but cannot be installed over this application
    // (not its own replaceable folder, or the script would not start).
    Install = 1,
};

// Every message arrives on the main queue.
class AUUpdaterDelegate {
public:
    virtual ~AUUpdaterDelegate() = default;
    virtual void updaterWantsToInstallUpdateWithCriticalStatus(AUUpdater& updater, bool critical) = 0;
    virtual void updaterDidChangeState(AUUpdater&, AUUpdaterState) {}
    virtual void updaterDidChangeProgress(AUUpdater&, double) {}
};

// The application folder the archive replaces: "Havenway" holding
// bin/havenway and the installed script.
struct AUBundle {
    std::string path;
    std::string installScript;

    // Found from the running executable; none for anything that is not such
    // a folder, or one the user cannot replace.
    static std::optional<AUBundle> fromExecutable(const std::string& executablePath, std::string* why = nullptr);
};

struct AUUpdaterPorts {
    MainQueue& queue;
    FileDownload& download;
    ProcessLauncher& launcher;
    // The running executable's path; the bundle is found from it.
    std::string executablePath;
    // The private data folder; none when it cannot be made.
    std::function<std::optional<std::string>()> applicationSupportDirectory;
    // Our own environment, read for the install script.
    std::function<const char*(const char*)> getenv;
};

// Downloads the application archive from one address, tells its delegate
// how far it got, and installs it by starting the bundle's install script.
// Main thread only.
class AUUpdater {
public:
    static constexpr const char* kArchiveName = "auto-update.zip";

    AUUpdater(AUUpdaterPorts ports, std::string host, std::string channel, std::int64_t percentile);
    ~AUUpdater();
    AUUpdater(const AUUpdater&) = delete;
    AUUpdater& operator=(const AUUpdater&) = delete;

    void setDelegate(AUUpdaterDelegate* delegate) { delegate_ = delegate; }

    // A fresh request: stops what runs, then starts from zero.
    void downloadUpdate();
    // Starts a download when idle.
    void checkForUpdates();
    // Stops the transfer and any pending retry; back to idle, no message.
    void cancelUpdateDownload();
    void deleteDownloadedUpdate();
    // Starts the install script when the archive is complete. False (and
    // state 4 reported, the archive removed) when it could not start: the
    // caller must not quit.
    bool installUpdate();

    AUUpdaterState state() const { return state_; }
    double progress() const;
    bool critical() const { return critical_; }
    AUUpdaterFailure lastFailure() const { return lastFailure_; }
    const std::string& host() const { return host_; }
    const std::string& channel() const { return channel_; }
    std::int64_t percentile() const { return percentile_; }
    // Empty without a data folder.
    const std::string& destination() const { return destination_; }
    double interval() const { return interval_; }
    void setInterval(double seconds) { interval_ = seconds; }
    std::int64_t totalBytes() const { return totalBytes_; }
    std::int64_t downloadedBytes() const { return downloadedBytes_; }
    std::int64_t attemptsIfDownloadFailed() const { return attemptsIfDownloadFailed_; }

private:
    void setState(AUUpdaterState state);
    void report(AUUpdaterState state);
    void didReceiveResponse(const FileDownloadResponse& response);
    void didReceiveBlock(std::int64_t length);
    void didFinish();
    void didFail(const std::string& reason);
    bool refreshDestination();

    AUUpdaterPorts ports_;
    AUUpdaterDelegate* delegate_ = nullptr;
    std::string host_;
    std::string channel_;
    std::int64_t percentile_;
    std::string destination_;
    AUUpdaterState state_ = AUUpdaterState::Idle;
    bool critical_ = false;
    AUUpdaterFailure lastFailure_ = AUUpdaterFailure::Download;
    double interval_ = 5.0;
    std::int64_t totalBytes_ = 0;
    std::int64_t downloadedBytes_ = 0;
    std::int64_t attemptsIfDownloadFailed_ = 0;
    std::unique_ptr<FileDownloadTask> download_;
    // A pending retry runs only while this is unchanged.
    std::uint64_t retryGeneration_ = 0;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

}  // namespace hw

// The two archives the state object keeps in the settings file: trusted
// networks and the information widget's record.
#include <cstddef>
#include <cstdint>

#include "core/smart_widget_data.h"
#include "core/trusted_network_item.h"

namespace {

struct NoQueue final : hw::MainQueue, hw::BackgroundQueue {
    void post(hw::Task) override {}
    void postAfter(double, hw::Task) override {}
    std::unique_ptr<hw::Timer> startTimer(double, bool, hw::Task) override { return nullptr; }
    bool isMainThread() const override { return true; }
    void async(hw::Task) override {}
};
struct NoHttp final : hw::HttpClient {
    void send(hw::HttpRequest, std::function<void(hw::HttpResponse)>) override {}
};
struct NoCodec final : hw::ImageCodec {
    hw::ImagePtr decode(const hw::Bytes&) const override { return nullptr; }
    std::optional<hw::Bytes> encodePNG(const hw::Image&) const override { return std::nullopt; }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static NoQueue queue;
    static NoHttp http;
    static NoCodec codec;
    static const auto context = [] {
        // Never near the user's files.
        hw::SmartWidgetData::setDeterminedSmartWidgetImagesPath("/nonexistent/havenway-fuzz");
        return std::make_shared<hw::SmartWidgetContext>(http, queue, queue, codec);
    }();
    const hw::Bytes bytes(data, data + size);
    if (auto items = hw::unarchiveTrustedNetworks(bytes)) {
        // What was read must store and read back unchanged.
        if (hw::unarchiveTrustedNetworks(hw::archiveTrustedNetworks(*items)) != items) __builtin_trap();
    }
    if (auto record = hw::SmartWidgetData::unarchive(context, bytes)) {
        (void)hw::SmartWidgetData::unarchive(context, record->archive());
    }
    return 0;
}

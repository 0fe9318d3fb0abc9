// The entry of havenway-network.so: the QtNetwork adapters, opened by the
// application at their first use.
#include "platform/qt/qt_file_download.h"
#include "platform/qt/qt_http_client.h"

extern "C" {

__attribute__((visibility("default"))) hw::HttpClient* havenway_network_make_http_client(hw::MainQueue& queue) {
    return new hw::QtHttpClient(queue);
}

__attribute__((visibility("default"))) hw::FileDownload* havenway_network_make_file_download(hw::MainQueue& queue) {
    return new hw::QtFileDownload(queue);
}

}

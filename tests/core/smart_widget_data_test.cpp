#include <gmock/gmock.h>
#include <sys/stat.h>

#include <filesystem>

#include "application_model_fixture.h"
#include "support/scoped_env.h"
#include "support/temp_dir.h"

namespace hw::test {
namespace {

namespace fs = std::filesystem;
using Keys = SettingsUserDefaults;

HttpResponse imageReply(std::string body, std::string mime = "image/png", int status = 200) {
    return FakeHttpClient::ok(std::move(body), status, {{"Content-Type", std::move(mime)}});
}

class SmartWidgetDataTest : public ApplicationModelTest {
protected:
    SmartWidgetDataTest() {
        cache = root + "/SmartWidgetCache";
        fs::create_directory(cache);
        SmartWidgetData::setDeterminedSmartWidgetImagesPath(cache);
    }
    ~SmartWidgetDataTest() override {
        SmartWidgetData::setDeterminedSmartWidgetImagesPath(std::nullopt);
    }
    std::shared_ptr<SmartWidgetData> record(std::string image = "https://cdn.example.test/media/widget/offer.png") {
        return model->makeSmartWidgetData("https://example.test/offer", "Title", std::move(image), "Subtitle", "Open");
    }
    // Runs a download and answers it; the result is what reached the completion.
    ImagePtr download(HttpResponse reply, int* calls = nullptr) {
        ImagePtr result;
        http.scripted.push_back(std::move(reply));
        record()->downloadImageFromUrl("https://cdn.example.test/a.png", [&](ImagePtr image) {
            EXPECT_TRUE(queue.isMainThread());
            result = image;
            if (calls) ++*calls;
        });
        runAll();
        return result;
    }

    TempDir temp;
    std::string root = temp.path();
    std::string cache;
};

TEST_F(SmartWidgetDataTest, CacheNameIsTheAddressesLastPieceAndUnsafeNamesNeitherWriteNorRead) {
    EXPECT_EQ(record("https://cdn.example.test/icon.png?v=2")->imageCachedFilename, "icon.png?v=2");
    EXPECT_EQ(record("https://cdn.example.test/dir/")->imageCachedFilename, "");
    const Image icon = FakeImageCodec::image(2, 2);
    TempDir::write(root + "/outside", "PNG:2x2");  // one level above the cache folder
    auto widget = record();
    for (const std::string& name : std::vector<std::string>{"", ".", "..", "../outside", "a/b", std::string("x\0y", 3)}) {
        EXPECT_FALSE(SmartWidgetData::isSafeCacheFileName(name));
        EXPECT_FALSE(widget->saveSmartWidgetImageIntoCache(name, icon));
        EXPECT_EQ(widget->loadCachedImageForSmartWidgetWithFileName(name), nullptr);
    }
    EXPECT_TRUE(fs::is_empty(cache));
    EXPECT_TRUE(SmartWidgetData::isSafeCacheFileName("..png"));
}

TEST_F(SmartWidgetDataTest, CacheWriteIsAPrivatePngFile) {
    auto widget = record();
    ASSERT_TRUE(widget->saveSmartWidgetImageIntoCache("offer.png", FakeImageCodec::image(3, 2)));
    struct stat info{};
    ASSERT_EQ(stat((cache + "/offer.png").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
    EXPECT_NE(widget->loadCachedImageForSmartWidgetWithFileName("offer.png"), nullptr);
    codec.failEncode = true;
    EXPECT_FALSE(widget->saveSmartWidgetImageIntoCache("other.png", FakeImageCodec::image(1, 1)));
    EXPECT_FALSE(fs::exists(cache + "/other.png"));
}

TEST_F(SmartWidgetDataTest, OnlyAnImageReplyWithStatus200GivesAnImage) {
    EXPECT_NE(download(imageReply("IMG:2x2")), nullptr);
    EXPECT_NE(download(imageReply("IMG:2x2", " Image/PNG; q=1")), nullptr);
    int calls = 0;
    for (const auto& reply : {imageReply("IMG:2x2", "image/png", 404), imageReply("IMG:2x2", "text/html"),
                              FakeHttpClient::ok("IMG:2x2"),
                              imageReply(""), imageReply("<svg nonsense"),
                              FakeHttpClient::failed(HttpCannotConnect, "refused")}) {
        EXPECT_EQ(download(reply, &calls), nullptr);
    }
    EXPECT_EQ(calls, 6);
}

TEST_F(SmartWidgetDataTest, DecodingRunsOnTheBackgroundQueue) {
    http.scripted.push_back(imageReply("IMG:2x2"));
    ImagePtr result;
    record()->downloadImageFromUrl("https://cdn.example.test/a.png", [&](ImagePtr image) { result = image; });
    queue.runUntilIdle();
    EXPECT_EQ(codec.decodes, 0);
    EXPECT_EQ(background.pending(), 1u);
    background.runUntilIdle();
    EXPECT_EQ(codec.decodes, 1);
    EXPECT_EQ(result, nullptr);  // not before the main queue runs
    queue.runUntilIdle();
    EXPECT_NE(result, nullptr);
}

TEST_F(SmartWidgetDataTest, AnAddressThatIsNoWebAddressStillCompletesOnTheMainQueue) {
    for (const std::string& address : std::vector<std::string>{"", "file:///etc/passwd", "https://a b/c.png"}) {
        auto widget = record(address);
        int calls = 0;
        widget->loadImageDataOnLoaded([&] { ++calls; });
        EXPECT_EQ(calls, 0) << "completion must not run inside the call";
        runAll();
        EXPECT_EQ(calls, 1) << address;
        EXPECT_TRUE(widget->failedToLoadCachedImage());
    }
    EXPECT_TRUE(http.requests.empty());
    record()->loadImageDataOnLoaded(nullptr);  // no completion: no crash
    runAll();
}

TEST_F(SmartWidgetDataTest, OnlyASuccessfulFetchCachesAndArchivesTheIconAndTheArchiveRestoresIt) {
    auto widget = record();
    http.scripted.push_back(imageReply("IMG:4x4", "text/html"));
    http.scripted.push_back(imageReply("IMG:4x4"));
    int calls = 0;
    widget->loadImageDataOnLoaded([&] { ++calls; });
    runAll();
    EXPECT_EQ(calls, 1);
    EXPECT_TRUE(fs::is_empty(cache));
    EXPECT_FALSE(store.stored().contains(Keys::smartWidgetData));

    widget->loadImageDataOnLoaded([&] {
        ++calls;
        EXPECT_FALSE(widget->failedToLoadCachedImage());  // kept before the caller hears of it
    });
    runAll();
    EXPECT_EQ(calls, 2);
    EXPECT_EQ(http.requests.at(1).url, "https://cdn.example.test/media/widget/offer.png");
    EXPECT_TRUE(fs::exists(cache + "/offer.png"));

    // The archive restores the record with its cached icon, and without the file the icon only.
    auto restored = model->loadCachedSmartWidgetData();
    ASSERT_NE(restored, nullptr);
    EXPECT_EQ(restored->archive(), widget->archive());
    ASSERT_FALSE(restored->failedToLoadCachedImage());
    EXPECT_EQ(restored->imageData->width, 4);
    fs::remove(cache + "/offer.png");
    restored = model->loadCachedSmartWidgetData();
    EXPECT_TRUE(restored->failedToLoadCachedImage());
    EXPECT_FALSE(restored->failedToLoadCachedData());
}

TEST_F(SmartWidgetDataTest, DamagedArchivesReadAsEmptyFieldsOrNothing) {
    store.set(Keys::smartWidgetData, FakeImageCodec::bytes(R"({"link":5,"title":"T","subtitle":"S","image":"i"})"));
    auto restored = model->loadCachedSmartWidgetData();
    ASSERT_NE(restored, nullptr);
    EXPECT_EQ(restored->link, "");
    EXPECT_TRUE(restored->failedToLoadCachedData());
    // Without a cached name the address is dropped and the default name stays.
    EXPECT_EQ(restored->image, "");
    EXPECT_EQ(restored->imageCachedFilename, "smartWidgetIcon");

    TempDir::write(root + "/stolen.png", "PNG:1x1");
    store.set(Keys::smartWidgetData, FakeImageCodec::bytes(R"({"imageCachedFilename":"../stolen.png"})"));
    EXPECT_TRUE(model->loadCachedSmartWidgetData()->failedToLoadCachedImage());

    for (const SettingValue& value : {SettingValue("{}"), SettingValue(FakeImageCodec::bytes("[1]")),
                                      SettingValue(FakeImageCodec::bytes("{broken"))}) {
        store.set(Keys::smartWidgetData, value);
        EXPECT_EQ(model->loadCachedSmartWidgetData(), nullptr);
    }
    store.remove(Keys::smartWidgetData);
    EXPECT_EQ(model->loadCachedSmartWidgetData(), nullptr);
}

TEST(SmartWidgetCacheFolder, FollowsTheDataFolderAndIsWorkedOutOnce) {
    SmartWidgetData::setDeterminedSmartWidgetImagesPath(std::nullopt);
    TempDir temp;
    const std::string dataRoot = temp.path();
    ScopedEnv env("HAVENWAY_DATA_DIR", (dataRoot + "/havenway").c_str());
    const std::string folder = SmartWidgetData::smartWidgetImagesPath();
    EXPECT_EQ(folder, dataRoot + "/havenway/SmartWidgetCache");
    struct stat info{};
    ASSERT_EQ(stat(folder.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0700u);
    env.set("HAVENWAY_DATA_DIR", "/elsewhere");
    EXPECT_EQ(SmartWidgetData::smartWidgetImagesPath(), folder);
    SmartWidgetData::setDeterminedSmartWidgetImagesPath(std::nullopt);
}

}  // namespace
}  // namespace hw::test

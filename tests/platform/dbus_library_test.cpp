#include "platform/dbus_library.h"

#include <gtest/gtest.h>

namespace {

using hw::Bytes;
namespace dbus = hw::dbus;

struct DBusMessages : ::testing::Test {
    void SetUp() override {
        lib = dbus::library(&why);
        if (!lib) GTEST_SKIP() << why;
        message.reset(lib->newMethodCall("org.example", "/org/example", "org.example.I", "M"));
        ASSERT_TRUE(message);
    }
    std::string why;
    const dbus::Library* lib = nullptr;
    dbus::Message message;
};

// What a peer sends is read only as the type it claims; a mismatch reads
// nothing and moves on to nothing.
TEST_F(DBusMessages, ReadsEachArgumentOnlyAsItsOwnType) {
    dbus::Writer w(*lib, message.get());
    w.string("text").objectPath("/a/b").boolean(true).bytes(Bytes{1, 2, 3});
    dbus::Writer paths = w.open(DBUS_TYPE_ARRAY, DBUS_TYPE_OBJECT_PATH_AS_STRING);
    paths.objectPath("/x").objectPath("/y");
    w.close(paths);
    ASSERT_TRUE(w.ok());

    dbus::Reader r(*lib, message.get()), inner(*lib);
    std::string s = "untouched", path;
    bool b = false;
    Bytes bytes;
    EXPECT_FALSE(r.objectPath(s)) << "a string is no object path";
    EXPECT_EQ(s, "untouched");
    EXPECT_TRUE(r.string(s));
    EXPECT_EQ(s, "text");
    EXPECT_FALSE(r.boolean(b)) << "an object path is no boolean";
    EXPECT_TRUE(r.objectPath(path));
    EXPECT_TRUE(r.boolean(b));
    EXPECT_TRUE(b);
    EXPECT_FALSE(r.bytes(bytes, 2)) << "longer than the caller allows";
    EXPECT_TRUE(bytes.empty());
    EXPECT_TRUE(r.bytes(bytes, 3));
    EXPECT_EQ(bytes, (Bytes{1, 2, 3}));
    EXPECT_FALSE(r.array(DBUS_TYPE_STRING, inner)) << "an array of paths is no array of strings";
    ASSERT_TRUE(r.array(DBUS_TYPE_OBJECT_PATH, inner));
    EXPECT_TRUE(inner.objectPath(path));
    EXPECT_EQ(path, "/x");
    EXPECT_TRUE(inner.objectPath(path));
    EXPECT_TRUE(inner.atEnd());
    EXPECT_TRUE(r.atEnd());
    EXPECT_FALSE(r.string(s)) << "nothing past the end";
}

TEST_F(DBusMessages, AnEmptyByteArrayInAVariantAndASecretStructRoundTrip) {
    dbus::Writer w(*lib, message.get());
    dbus::Writer v = w.open(DBUS_TYPE_VARIANT, "ay");
    v.bytes({});
    w.close(v);
    dbus::Writer s = w.open(DBUS_TYPE_STRUCT, nullptr);
    s.objectPath("/s").bytes(Bytes(16, 7)).string("text/plain");
    w.close(s);
    ASSERT_TRUE(w.ok());

    dbus::Reader r(*lib, message.get()), variant(*lib), structure(*lib);
    Bytes empty{9}, iv;
    std::string path, type;
    ASSERT_TRUE(r.variant(variant));
    EXPECT_TRUE(variant.bytes(empty, 16));
    EXPECT_TRUE(empty.empty());
    ASSERT_TRUE(r.structure(structure));
    EXPECT_TRUE(structure.objectPath(path) && structure.bytes(iv, 16) && structure.string(type));
    EXPECT_EQ(iv, Bytes(16, 7));
    EXPECT_EQ(type, "text/plain");
}

}  // namespace

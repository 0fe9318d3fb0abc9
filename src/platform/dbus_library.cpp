#include "platform/dbus_library.h"

#include <cstdlib>
#include <limits>
#include <sys/stat.h>

#include "platform/shared_library.h"

namespace hw::dbus {

const Library* library(std::string* why) {
    static std::string failure;
    static const Library* loaded = []() -> const Library* {
        SharedLibrary so("libdbus-1.so.3");
        static Library l;
        so.bind(l.errorInit, "dbus_error_init");
        so.bind(l.errorFree, "dbus_error_free");
        so.bind(l.openPrivate, "dbus_connection_open_private");
        so.bind(l.busRegister, "dbus_bus_register");
        so.bind(l.setExitOnDisconnect, "dbus_connection_set_exit_on_disconnect");
        so.bind(l.isConnected, "dbus_connection_get_is_connected");
        so.bind(l.close, "dbus_connection_close");
        so.bind(l.connectionUnref, "dbus_connection_unref");
        so.bind(l.callBlocking, "dbus_connection_send_with_reply_and_block");
        so.bind(l.readWrite, "dbus_connection_read_write");
        so.bind(l.popMessage, "dbus_connection_pop_message");
        so.bind(l.addMatch, "dbus_bus_add_match");
        so.bind(l.removeMatch, "dbus_bus_remove_match");
        so.bind(l.newMethodCall, "dbus_message_new_method_call");
        so.bind(l.messageUnref, "dbus_message_unref");
        so.bind(l.isSignal, "dbus_message_is_signal");
        so.bind(l.path, "dbus_message_get_path");
        so.bind(l.sender, "dbus_message_get_sender");
        so.bind(l.iterInit, "dbus_message_iter_init");
        so.bind(l.iterInitAppend, "dbus_message_iter_init_append");
        so.bind(l.argType, "dbus_message_iter_get_arg_type");
        so.bind(l.elementType, "dbus_message_iter_get_element_type");
        so.bind(l.recurse, "dbus_message_iter_recurse");
        so.bind(l.next, "dbus_message_iter_next");
        so.bind(l.getBasic, "dbus_message_iter_get_basic");
        so.bind(l.getFixedArray, "dbus_message_iter_get_fixed_array");
        so.bind(l.appendBasic, "dbus_message_iter_append_basic");
        so.bind(l.appendFixedArray, "dbus_message_iter_append_fixed_array");
        so.bind(l.openContainer, "dbus_message_iter_open_container");
        so.bind(l.closeContainer, "dbus_message_iter_close_container");
        so.bind(l.abandonContainer, "dbus_message_iter_abandon_container");
        so.bind(l.validUtf8, "dbus_validate_utf8");
        if (so.ok()) return &l;
        failure = so.failure();
        return nullptr;
    }();
    if (!loaded && why) *why = failure;
    return loaded;
}

void MessageUnref::operator()(DBusMessage* m) const {
    if (m) library()->messageUnref(m);
}

namespace {

// Frees the error and hands its name and text to the caller.
void takeError(const Library& lib, DBusError& error, std::string* name, std::string* why) {
    if (name) *name = error.name ? error.name : "";
    if (why) *why = error.message ? error.message : (error.name ? error.name : "D-Bus error");
    lib.errorFree(&error);
}

// The session bus as the desktop announces it, or where systemd puts it. The
// variable is read each time: libdbus's own shared lookup keeps its first answer.
std::string sessionBusAddress() {
    if (const char* address = std::getenv("DBUS_SESSION_BUS_ADDRESS"); address && *address) return address;
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (!runtime || !*runtime) return "";
    const std::string socket = std::string(runtime) + "/bus";
    struct stat st {};
    if (::stat(socket.c_str(), &st) != 0 || !S_ISSOCK(st.st_mode)) return "";
    return "unix:path=" + socket;
}

}  // namespace

std::unique_ptr<Connection> Connection::openSession(std::string* why) {
    const Library* lib = library(why);
    if (!lib) return nullptr;
    const std::string address = sessionBusAddress();
    if (address.empty()) {
        if (why) *why = "no session bus (DBUS_SESSION_BUS_ADDRESS is not set)";
        return nullptr;
    }
    DBusError error;
    lib->errorInit(&error);
    DBusConnection* c = lib->openPrivate(address.c_str(), &error);
    if (!c) {
        takeError(*lib, error, nullptr, why);
        return nullptr;
    }
    // A bus that goes away must not take the application with it.
    lib->setExitOnDisconnect(c, FALSE);
    std::unique_ptr<Connection> connection(new Connection(*lib, c));
    if (!lib->busRegister(c, &error)) {
        takeError(*lib, error, nullptr, why);
        return nullptr;
    }
    return connection;
}

Connection::~Connection() {
    lib_.close(c_);
    lib_.connectionUnref(c_);
}

bool Connection::connected() const { return lib_.isConnected(c_); }

Message Connection::call(Message request, std::chrono::milliseconds timeout, std::string* errorName,
                         std::string* why) {
    if (errorName) errorName->clear();
    if (!request) {
        if (why) *why = "out of memory";
        return nullptr;
    }
    DBusError error;
    lib_.errorInit(&error);
    const auto ms = static_cast<int>(std::min<long long>(timeout.count(), std::numeric_limits<int>::max()));
    Message reply(lib_.callBlocking(c_, request.get(), ms, &error));
    if (!reply) takeError(lib_, error, errorName, why);
    return reply;
}

bool Connection::addMatch(const std::string& rule, std::string* why) {
    DBusError error;
    lib_.errorInit(&error);
    lib_.addMatch(c_, rule.c_str(), &error);
    if (error.name) {
        takeError(lib_, error, nullptr, why);
        return false;
    }
    return true;
}

void Connection::removeMatch(const std::string& rule) {
    // Without an error to fill, libdbus does not wait for the bus's answer.
    lib_.removeMatch(c_, rule.c_str(), nullptr);
}

Message Connection::waitForSignal(const std::string& sender, const std::string& path, const char* interface,
                                  const char* member, std::chrono::steady_clock::time_point deadline) {
    for (;;) {
        while (Message m{lib_.popMessage(c_)}) {
            const char* from = lib_.sender(m.get());
            const char* at = lib_.path(m.get());
            if (lib_.isSignal(m.get(), interface, member) && from && sender == from && at && path == at) return m;
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0 || !lib_.readWrite(c_, static_cast<int>(std::min<long long>(left.count(), 1000))))
            return nullptr;
    }
}

Reader::Reader(const Library& lib, DBusMessage* message) : lib_(&lib) {
    valid_ = message && lib.iterInit(message, &it_);
}

bool Reader::atEnd() const {
    return !valid_ || lib_->argType(const_cast<DBusMessageIter*>(&it_)) == DBUS_TYPE_INVALID;
}

bool Reader::basic(int type, void* out) {
    if (!valid_ || lib_->argType(&it_) != type) return false;
    lib_->getBasic(&it_, out);
    lib_->next(&it_);
    return true;
}

bool Reader::string(std::string& out) {
    const char* s = nullptr;
    if (!basic(DBUS_TYPE_STRING, &s) || !s) return false;
    out = s;
    return true;
}

bool Reader::objectPath(std::string& out) {
    const char* s = nullptr;
    if (!basic(DBUS_TYPE_OBJECT_PATH, &s) || !s) return false;
    out = s;
    return true;
}

bool Reader::boolean(bool& out) {
    dbus_bool_t b = FALSE;
    if (!basic(DBUS_TYPE_BOOLEAN, &b)) return false;
    out = b != FALSE;
    return true;
}

bool Reader::bytes(Bytes& out, std::size_t limit) {
    if (!valid_ || lib_->argType(&it_) != DBUS_TYPE_ARRAY || lib_->elementType(&it_) != DBUS_TYPE_BYTE) return false;
    DBusMessageIter inner;
    lib_->recurse(&it_, &inner);
    const unsigned char* data = nullptr;
    int length = 0;
    lib_->getFixedArray(&inner, &data, &length);
    if (length < 0 || static_cast<std::size_t>(length) > limit || (length > 0 && !data)) return false;
    out.assign(data, data + length);
    lib_->next(&it_);
    return true;
}

bool Reader::enter(int type, Reader& inner) {
    if (!valid_ || lib_->argType(&it_) != type) return false;
    inner = Reader(*lib_);
    lib_->recurse(&it_, &inner.it_);
    inner.valid_ = true;
    lib_->next(&it_);
    return true;
}

bool Reader::array(int elementType, Reader& inner) {
    return valid_ && lib_->argType(&it_) == DBUS_TYPE_ARRAY && lib_->elementType(&it_) == elementType &&
           enter(DBUS_TYPE_ARRAY, inner);
}
bool Reader::variant(Reader& inner) { return enter(DBUS_TYPE_VARIANT, inner); }
bool Reader::structure(Reader& inner) { return enter(DBUS_TYPE_STRUCT, inner); }
bool Reader::dictEntry(Reader& inner) { return enter(DBUS_TYPE_DICT_ENTRY, inner); }

Writer::Writer(const Library& lib, DBusMessage* message) : lib_(&lib) {
    ok_ = message != nullptr;
    if (ok_) lib.iterInitAppend(message, &it_);
}

Writer& Writer::string(const std::string& s) {
    const char* p = s.c_str();
    ok_ = ok_ && lib_->appendBasic(&it_, DBUS_TYPE_STRING, &p);
    return *this;
}

Writer& Writer::objectPath(const std::string& s) {
    const char* p = s.c_str();
    ok_ = ok_ && lib_->appendBasic(&it_, DBUS_TYPE_OBJECT_PATH, &p);
    return *this;
}

Writer& Writer::boolean(bool b) {
    const dbus_bool_t v = b ? TRUE : FALSE;
    ok_ = ok_ && lib_->appendBasic(&it_, DBUS_TYPE_BOOLEAN, &v);
    return *this;
}

Writer& Writer::bytes(const Bytes& b) {
    Writer inner = open(DBUS_TYPE_ARRAY, DBUS_TYPE_BYTE_AS_STRING);
    const unsigned char* p = b.data();
    inner.ok_ = inner.ok_ && lib_->appendFixedArray(&inner.it_, DBUS_TYPE_BYTE, &p, static_cast<int>(b.size()));
    return close(inner);
}

Writer Writer::open(int type, const char* signature) {
    Writer inner(*lib_);
    inner.ok_ = ok_ && lib_->openContainer(&it_, type, signature, &inner.it_);
    // A failed open leaves nothing to close; the failure sticks here.
    if (!inner.ok_) ok_ = false;
    return inner;
}

Writer& Writer::close(Writer& inner) {
    if (!ok_) return *this;
    if (!inner.ok_) {
        lib_->abandonContainer(&it_, &inner.it_);
        ok_ = false;
        return *this;
    }
    ok_ = lib_->closeContainer(&it_, &inner.it_);
    return *this;
}

}  // namespace hw::dbus

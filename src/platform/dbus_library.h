#pragma once
// libdbus-1 opened on first use (Qt's D-Bus module has it in the process
// already), with checked readers and writers of message arguments. Internal
// to the platform layer: its users include <dbus/dbus.h> through here.
#include <dbus/dbus.h>

#include <chrono>
#include <cstddef>
#include <memory>
#include <string>

#include "platform/settings_store.h"

namespace hw::dbus {

struct Library {
    decltype(&dbus_error_init) errorInit = nullptr;
    decltype(&dbus_error_free) errorFree = nullptr;
    decltype(&dbus_connection_open_private) openPrivate = nullptr;
    decltype(&dbus_bus_register) busRegister = nullptr;
    decltype(&dbus_connection_set_exit_on_disconnect) setExitOnDisconnect = nullptr;
    decltype(&dbus_connection_get_is_connected) isConnected = nullptr;
    decltype(&dbus_connection_close) close = nullptr;
    decltype(&dbus_connection_unref) connectionUnref = nullptr;
    decltype(&dbus_connection_send_with_reply_and_block) callBlocking = nullptr;
    decltype(&dbus_connection_read_write) readWrite = nullptr;
    decltype(&dbus_connection_pop_message) popMessage = nullptr;
    decltype(&dbus_bus_add_match) addMatch = nullptr;
    decltype(&dbus_bus_remove_match) removeMatch = nullptr;
    decltype(&dbus_message_new_method_call) newMethodCall = nullptr;
    decltype(&dbus_message_unref) messageUnref = nullptr;
    decltype(&dbus_message_is_signal) isSignal = nullptr;
    decltype(&dbus_message_get_path) path = nullptr;
    decltype(&dbus_message_get_sender) sender = nullptr;
    decltype(&dbus_message_iter_init) iterInit = nullptr;
    decltype(&dbus_message_iter_init_append) iterInitAppend = nullptr;
    decltype(&dbus_message_iter_get_arg_type) argType = nullptr;
    decltype(&dbus_message_iter_get_element_type) elementType = nullptr;
    decltype(&dbus_message_iter_recurse) recurse = nullptr;
    decltype(&dbus_message_iter_next) next = nullptr;
    decltype(&dbus_message_iter_get_basic) getBasic = nullptr;
    decltype(&dbus_message_iter_get_fixed_array) getFixedArray = nullptr;
    decltype(&dbus_message_iter_append_basic) appendBasic = nullptr;
    decltype(&dbus_message_iter_append_fixed_array) appendFixedArray = nullptr;
    decltype(&dbus_message_iter_open_container) openContainer = nullptr;
    decltype(&dbus_message_iter_close_container) closeContainer = nullptr;
    decltype(&dbus_message_iter_abandon_container) abandonContainer = nullptr;
    decltype(&dbus_validate_utf8) validUtf8 = nullptr;
};

// Null with the loader's reason when libdbus-1 cannot be opened.
const Library* library(std::string* why = nullptr);

struct MessageUnref {
    void operator()(DBusMessage* m) const;
};
using Message = std::unique_ptr<DBusMessage, MessageUnref>;

// A private connection to the session bus, closed when it goes. Not shared:
// the caller serialises its use.
class Connection {
public:
    // Null with the reason when there is no session bus to reach.
    static std::unique_ptr<Connection> openSession(std::string* why);
    ~Connection();
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    bool connected() const;
    // The reply, or null with the error's name (e.g. for NotSupported) and text.
    Message call(Message request, std::chrono::milliseconds timeout, std::string* errorName, std::string* why);
    bool addMatch(const std::string& rule, std::string* why);
    void removeMatch(const std::string& rule);
    // The next signal at `path` of `interface`.`member` from `sender`, within
    // the deadline; everything else that arrives meanwhile is dropped.
    Message waitForSignal(const std::string& sender, const std::string& path, const char* interface,
                          const char* member, std::chrono::steady_clock::time_point deadline);

private:
    Connection(const Library& lib, DBusConnection* c) : lib_(lib), c_(c) {}
    const Library& lib_;
    DBusConnection* c_;
};

// Reads arguments in order; each read checks the type first and fails on any
// other, leaving its output untouched.
class Reader {
public:
    Reader(const Library& lib, DBusMessage* message);
    // Empty, to be filled by entering a container.
    explicit Reader(const Library& lib) : lib_(&lib) {}
    bool atEnd() const;
    bool string(std::string& out);
    bool objectPath(std::string& out);
    bool boolean(bool& out);
    // An "ay" of at most `limit` bytes.
    bool bytes(Bytes& out, std::size_t limit);
    // Enters an array of the given element type, a variant, a struct or a dict entry.
    bool array(int elementType, Reader& inner);
    bool variant(Reader& inner);
    bool structure(Reader& inner);
    bool dictEntry(Reader& inner);

private:
    bool enter(int type, Reader& inner);
    bool basic(int type, void* out);
    const Library* lib_;
    DBusMessageIter it_{};
    bool valid_ = false;
};

// Appends arguments in order; any failure sticks and ok() reports it.
class Writer {
public:
    Writer(const Library& lib, DBusMessage* message);
    Writer& string(const std::string& s);
    Writer& objectPath(const std::string& s);
    Writer& boolean(bool b);
    Writer& bytes(const Bytes& b);
    // Containers: open(), fill the inner writer, close(inner).
    Writer open(int type, const char* signature);
    Writer& close(Writer& inner);
    bool ok() const { return ok_; }

private:
    explicit Writer(const Library& lib) : lib_(&lib) {}
    const Library* lib_;
    DBusMessageIter it_{};
    bool ok_ = true;
};

}  // namespace hw::dbus

#pragma once
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/backend/parse_core.h"
#include "platform/backend/parse_object.h"
#include "platform/secret_store.h"
#include "platform/secret_store_queue.h"
#include "platform/settings_store.h"

namespace hw {

// The signed-in backend user.
struct ParseUser {
    std::string objectId;
    std::string username;
    std::string sessionToken;
    JSON data;  // the user object as the server answered it, without the token
};

// The remote configuration: its parameters by key.
struct ParseConfig {
    JSON params;  // a dictionary; empty before the first fetch
    JSON operator[](const std::string& key) const { return params[key]; }
};

// The backend client (a Parse-compatible REST client). Called on the main thread;
// every completion runs exactly once, on the main queue; a reply that never comes
// ends in a timeout error (code 124).
class ParseClient {
public:
    // With a secrets queue, the session token is read, written and removed
    // there, off the main thread: the user of the last run is restored once
    // the store answers, unless a user was set meanwhile.
    ParseClient(ParseClientConfig config, HttpClient& http, MainQueue& queue, SecretStore& secrets,
                SettingsStore& settings, SecretStoreQueue* secretsQueue = nullptr);
    ~ParseClient();

    // Opens the SQLite datastore at the configured path; false when it cannot.
    bool enableLocalDatastore();
    bool hasLocalDatastore() const { return core_->datastore != nullptr; }
    void enableRevocableSession() { core_->revocableSession = true; }
    // The access rights of new objects; with access for the current user, that user is
    // given read and write access too.
    void setDefaultACL(JSON acl, bool withAccessForCurrentUser);

    // ---- users and sessions ----
    const std::optional<ParseUser>& currentUser() const { return currentUser_; }
    // Becomes the user of a session token (kept in the secret store across restarts).
    void become(const std::string& sessionToken,
                std::function<void(std::optional<ParseUser>, OptionalParseError)> done);
    // Forgets the user at once and revokes the session on the server: on a
    // connection nothing drops, asked again with a growing wait until the
    // server says it is done or the token is no longer a session; a session
    // still unrevoked at quit is revoked at the next start. done has the
    // first try's outcome.
    void logOut(std::function<void(OptionalParseError)> done = nullptr);
    // Sessions signed out whose revocation the server has not yet answered.
    std::size_t sessionsToRevoke() const { return revoking_.size(); }

    // ---- cloud functions ----
    // A reply {"result": x} hands over x. "authenticateUser" answering a "sessionToken"
    // makes the client that user before the completion runs.
    void callFunction(const std::string& name, const JSON& params, ParseReply done,
                      std::optional<double> timeoutMs = std::nullopt);

    // ---- remote configuration ----
    void fetchConfig(std::function<void(ParseConfig, OptionalParseError)> done);
    // The copy of the last successful fetch (kept in the datastore across restarts).
    ParseConfig currentConfig() const;

    // ---- objects, queries, local datastore ----
    ParseFilePtr fileWithData(const std::string& name, Bytes data, const std::string& contentType = {});
    // From a local file; nothing with an error when it cannot be read.
    ParseFilePtr fileWithPath(const std::string& name, const std::string& path, ParseError* error = nullptr);
    // A file that a reply names ({"__type": "File", "name", "url"}), bound to this client
    // so its data can be fetched; nothing for any other value.
    ParseFilePtr fileFromJSON(const JSON& value);
    // Uploads the object's new files first, then saves the object.
    void save(ParseObject object, std::function<void(ParseObject, OptionalParseError)> done = nullptr);
    void saveInBackground(ParseObject object) { save(std::move(object)); }
    void find(const ParseQuery& query, std::function<void(std::vector<ParseObject>, OptionalParseError)> done);
    // Every object the query matches, a page of query.limit at a time; the
    // order should end in a unique key (objectId) so that pages neither
    // overlap nor leave a gap. An error on any page is the answer.
    void findAll(ParseQuery query, std::function<void(std::vector<ParseObject>, OptionalParseError)> done);
    // The same, with `work` run on each page off the main thread, where the
    // page was decoded: a caller that turns thousands of objects into its own
    // values waits only on the last page's. What was made of each page taken
    // comes in the query's order; a page may repeat objects of an earlier one,
    // which the objects leave out and what was made of them does not.
    using PageMade = std::shared_ptr<const void>;
    using PageWork = std::function<PageMade(const std::vector<ParseObject>&)>;
    void findAll(ParseQuery query, PageWork work,
                 std::function<void(std::vector<ParseObject>, std::vector<PageMade>, OptionalParseError)> done);
    // Pinned objects that match (offline); an error when there is no datastore.
    void findInLocalDatastore(const ParseQuery& query, const std::string& pin,
                              std::function<void(std::vector<ParseObject>, OptionalParseError)> done);
    // The pins' reads (and the parsing of what they find) and writes run
    // there from now on, in the order asked: a list of thousands costs the
    // main thread nothing. One worker keeps them in order; a write then
    // answers true, and a failure is logged.
    void setDatastoreQueue(BackgroundQueue* queue) { datastoreQueue_ = queue; }
    // The pages of a query are decoded there from now on; one worker.
    void setDecodeQueue(BackgroundQueue* queue) { core_->decodeQueue = queue; }
    bool pinAll(const std::string& pin, std::vector<ParseObject> objects, bool replace = true);
    bool unpinAll(const std::string& pin);

    // The routes under the kept connections changed (a tunnel ended): they
    // are dropped, and requests in flight go again on fresh ones.
    void dropConnections();

    // ---- analytics ----
    void trackAppOpened(std::function<void(OptionalParseError)> done = nullptr);

    static constexpr const char* kSessionTokenKey = "parseSessionToken";
    static constexpr const char* kCurrentUserKey = "parseCurrentUser";
    static constexpr const char* kConfigKey = "parseConfig";
    // Answers larger than a few times what they hold are refused before they are read whole:
    // a configuration is some kilobytes, a location row under 2 KiB.
    static constexpr std::int64_t kMaxConfigBytes = 1 << 20;
    static constexpr std::int64_t kMaxBytesPerRow = 8 << 10;
    static constexpr std::int64_t kMaxPageBytes = 16 << 20;
    // The secret item listing them, and the setting that says it exists.
    static constexpr const char* kSessionsToRevokeKey = "parseSessionsToRevoke";
    // The wait before a revocation is asked again: doubled each try, up to the cap.
    static constexpr int kRevokeRetryMs = 1000;
    static constexpr int kRevokeRetryCapMs = 60000;
    static constexpr int kRevokeTimeoutMs = 15000;
    // A revocation unanswered this long (throttled, the server failing) waits for the next start.
    static constexpr long long kRevokeGiveUpMs = 24ll * 60 * 60 * 1000;

    // Whether the session stored by the last run is still being read.
    bool restoring() const { return restoring_; }
    // Runs on the main queue once that read has answered (at once when none is under way).
    void whenRestored(std::function<void()> then);

private:
    void restoreCurrentUser();
    void restoreCurrentUser(const std::string& token);
    void setCurrentUser(std::optional<ParseUser> user);
    void resumeRevocations();
    void revokeSession(const std::string& token, std::function<void(OptionalParseError)> done);
    void revoke(const std::string& token, int tries, std::function<void(OptionalParseError)> done,
                long long waitedMs = 0);
    // The list is only ever written once read: what an earlier run left is merged, never written over.
    void saveRevocations();
    void readJournal(std::function<void(SecretRead)> then);
    // Merges what was read; false when it could not be read.
    bool takeJournal(const SecretRead& stored);
    void readJournalAgain();
    void saveObject(std::shared_ptr<ParseObject> object, std::function<void(ParseObject, OptionalParseError)> done);
    struct Paging;
    struct Page {
        std::vector<ParseObject> objects;
        PageMade made;
    };
    using PageBlock = std::function<void(Page, std::optional<long long> total, OptionalParseError)>;
    void findPage(const ParseQuery& query, PageWork work, PageBlock done);
    void findNextPage(std::shared_ptr<Paging> paging);
    // Takes a page (or its error) into the result; whether another may follow.
    static bool takePage(Paging& paging, Page page, OptionalParseError error);

    std::shared_ptr<ParseCore> core_;
    BackgroundQueue* datastoreQueue_ = nullptr;
    SecretStore& secrets_;
    SettingsStore& settings_;
    SecretStoreQueue* secretsQueue_;
    std::optional<ParseUser> currentUser_;
    std::vector<std::string> revoking_;
    bool journalUnread_ = false;
    bool journalReading_ = false;
    long long journalRetryMs_ = 5000;
    bool restoring_ = false;
    std::vector<std::function<void()>> restoreWaiters_;
    // Counts the users set: a restore that answers after one is stale.
    std::uint64_t userChanges_ = 0;
    std::optional<JSON> defaultACL_;
    bool aclForCurrentUser_ = false;
    mutable std::optional<ParseConfig> config_;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

}  // namespace hw

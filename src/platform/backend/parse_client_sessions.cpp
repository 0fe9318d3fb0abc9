// The backend client's user and its sessions: the token kept across
// restarts, and the list of signed-out sessions still to revoke.
#include <algorithm>
#include <cstdlib>

#include "platform/backend/parse_client.h"
#include "platform/log.h"

namespace hw {
namespace {

constexpr std::string_view kLog = "Parse";
constexpr std::size_t kMaxSessionsToRevoke = 20;
// A list that cannot be read is asked for again after this, doubled up to the cap.
constexpr long long kJournalRetryMs = 5000;
constexpr long long kJournalRetryCapMs = 10 * 60 * 1000;

// A session token travels in a header: printable ASCII, no blanks.
bool isPlausibleToken(const std::string& t) {
    if (t.empty() || t.size() > 256) return false;
    for (unsigned char c : t) {
        if (c < 0x21 || c > 0x7e) return false;
    }
    return true;
}

// Retry-After in seconds, as a server that throttles says it.
std::optional<long long> retryAfterMs(const HttpResponse& response) {
    const auto value = response.header("Retry-After");
    if (!value || value->empty() || value->size() > 9 ||
        !std::all_of(value->begin(), value->end(), [](char c) { return c >= '0' && c <= '9'; }))
        return std::nullopt;
    return std::atoll(value->c_str()) * 1000;
}

}  // namespace

void ParseClient::restoreCurrentUser() {
    // Signed out, the secret store is not asked: it may still be starting.
    if (!settings_.stringForKey(kCurrentUserKey)) return;
    if (!secretsQueue_) {
        const auto token = secrets_.read(core_->config.secretService, kSessionTokenKey);
        if (token.status == SecretStatus::Found) restoreCurrentUser(token.text());
        return;
    }
    restoring_ = true;
    std::weak_ptr<bool> alive = alive_;
    secretsQueue_->read(core_->config.secretService, kSessionTokenKey,
                        [this, alive, changes = userChanges_](SecretRead token) {
                            if (alive.expired()) return;
                            restoring_ = false;
                            const bool found = token.status == SecretStatus::Found && isPlausibleToken(token.text());
                            if (changes != userChanges_) {
                                // Signed in or out meanwhile: the stored session is no one's now.
                                const bool current = currentUser_ && currentUser_->sessionToken == token.text();
                                if (found && !current) {
                                    log::info(kLog, "the session stored by the last run was read after a new sign-in "
                                                    "or sign-out; it is revoked");
                                    revokeSession(token.text(), nullptr);
                                }
                            } else if (found) {
                                restoreCurrentUser(token.text());
                            } else if (token.status == SecretStatus::Error) {
                                log::warning(kLog, "the session token could not be read (" + token.why +
                                                       "); the sign-in starts a new one");
                            }
                            for (auto& waiter : std::exchange(restoreWaiters_, {})) waiter();
                        });
}

void ParseClient::whenRestored(std::function<void()> then) {
    if (!restoring_) return core_->queue.post(std::move(then));
    restoreWaiters_.push_back(std::move(then));
}

void ParseClient::restoreCurrentUser(const std::string& token) {
    const auto stored = settings_.stringForKey(kCurrentUserKey);
    if (!stored || !isPlausibleToken(token)) return;
    auto data = JSON::parse(*stored);
    auto id = data["objectId"].string();
    if (!id || id->empty()) return;
    currentUser_ = ParseUser{*id, data["username"].stringValue(), token, data};
    core_->setSessionToken(token);
}

void ParseClient::setCurrentUser(std::optional<ParseUser> user) {
    const auto& service = core_->config.secretService;
    ++userChanges_;
    const auto unstored = [] {
        log::warning(kLog, "the session token could not be stored; the sign-in lasts until the application quits");
    };
    if (user && secretsQueue_) {
        const std::string& token = user->sessionToken;
        // Kept at quit: a sign-in just made is remembered by the next start.
        secretsQueue_->write(service, kSessionTokenKey, Bytes(token.begin(), token.end()), [unstored](bool stored) {
            if (!stored) unstored();
        }, true);
    } else if (user && !secrets_.writeString(service, kSessionTokenKey, user->sessionToken)) {
        unstored();
    }
    if (user) {
        settings_.set(kCurrentUserKey, user->data.rawString().value_or("{}"));
        core_->setSessionToken(user->sessionToken);
    } else {
        if (secretsQueue_) secretsQueue_->remove(service, kSessionTokenKey);
        else secrets_.remove(service, kSessionTokenKey);
        settings_.remove(kCurrentUserKey);
        core_->setSessionToken("");
    }
    settings_.synchronize();
    currentUser_ = std::move(user);
}

void ParseClient::become(const std::string& sessionToken,
                         std::function<void(std::optional<ParseUser>, OptionalParseError)> done) {
    if (!isPlausibleToken(sessionToken)) {
        core_->queue.post([done] { done(std::nullopt, localError(kParseErrorInvalidSessionToken, "invalid session token")); });
        return;
    }
    std::weak_ptr<bool> alive = alive_;
    core_->call("GET", "/users/me", std::nullopt, [this, alive, sessionToken, done](JSON result, OptionalParseError error) {
        if (error) {
            done(std::nullopt, std::move(error));
            return;
        }
        auto id = result["objectId"].string();
        if (!id || id->empty()) {
            done(std::nullopt, localError(kParseErrorInvalidJSON, "the user answer has no objectId"));
            return;
        }
        auto fields = result.dictionaryValue();
        fields.erase("sessionToken");
        ParseUser user{*id, result["username"].stringValue(), sessionToken, JSON(fields)};
        if (!alive.expired()) setCurrentUser(user);
        log::info(kLog, "signed in as user " + *id);
        done(std::move(user), std::nullopt);
    }, sessionToken);
}

void ParseClient::logOut(std::function<void(OptionalParseError)> done) {
    const auto token = currentUser_ ? currentUser_->sessionToken : core_->sessionToken();
    setCurrentUser(std::nullopt);
    if (token.empty() || !isPlausibleToken(token)) {
        if (done) core_->queue.post([done] { done(std::nullopt); });
        return;
    }
    revokeSession(token, std::move(done));
}

void ParseClient::revokeSession(const std::string& token, std::function<void(OptionalParseError)> done) {
    if (std::find(revoking_.begin(), revoking_.end(), token) == revoking_.end()) {
        revoking_.push_back(token);
        // Bounded: a server that never answers must not grow the list for ever.
        if (revoking_.size() > kMaxSessionsToRevoke) {
            log::warning(kLog, "too many sessions wait to be revoked; the oldest is given up");
            revoking_.erase(revoking_.begin());
        }
        saveRevocations();
    }
    revoke(token, 0, std::move(done));
}

void ParseClient::revoke(const std::string& token, int tries, std::function<void(OptionalParseError)> done,
                         long long waitedMs) {
    HttpRequest request;
    request.method = "POST";
    request.url = core_->url("/logout");
    request.timeoutMs = std::min<double>(core_->config.requestTimeoutMs, kRevokeTimeoutMs);
    request.ignoreCache = true;
    // Its own connection, which no tunnel's end drops: the answer is waited
    // for here, and a repeat is harmless (the server refuses a revoked token).
    request.freshConnection = true;
    request.keptThroughDrops = true;
    request.headers = core_->headers(token);
    request.headers.emplace_back("Content-Type", "application/json");
    request.body = "{}";
    std::weak_ptr<bool> alive = alive_;
    core_->send(std::move(request), [this, alive, token, tries, done, waitedMs](HttpResponse response) {
        const bool ok = !response.error && response.status >= 200 && response.status < 300;
        OptionalParseError error;
        if (!ok) error = ParseCore::errorFrom(response);
        if (done) done(error);
        if (alive.expired()) return;
        const auto at = std::find(revoking_.begin(), revoking_.end(), token);
        if (at == revoking_.end()) return;
        // Only a definite answer settles it: done, or a token that is no
        // longer a session. "Try later" and a failing server are asked again.
        if (ok || (!response.error && error->isInvalidSession())) {
            log::info(kLog, ok ? "the signed-out session is revoked"
                               : "the signed-out session was no longer valid; nothing left to revoke");
            revoking_.erase(at);
            saveRevocations();
            return;
        }
        // No route comes back soon and is asked again within a minute; a
        // server that throttles or fails is given a wait that keeps growing.
        const bool serverSide = !response.error && (response.status == 429 || response.status >= 500);
        long long wait = std::min<long long>(static_cast<long long>(kRevokeRetryMs) << std::min(tries, 30),
                                             serverSide ? kRevokeGiveUpMs : kRevokeRetryCapMs);
        if (!response.error && response.status == 429) wait = std::max(wait, retryAfterMs(response).value_or(0));
        wait = std::min<long long>(wait, kRevokeGiveUpMs);
        const std::string why = response.error ? error->message
                                               : "status " + std::to_string(response.status) + ", code " +
                                                     std::to_string(error->code);
        log::warning(kLog, "the signed-out session could not be revoked (" + why + "); asked again in " +
                               std::to_string(wait / 1000) + " s");
        core_->queue.postAfter(static_cast<double>(wait), [this, alive, token, tries, waited = waitedMs + wait] {
            if (alive.expired()) return;
            if (std::find(revoking_.begin(), revoking_.end(), token) == revoking_.end()) return;
            // A day of asking in one run is enough: the list keeps it for the next start.
            if (waited >= kRevokeGiveUpMs) {
                log::warning(kLog, "a signed-out session was not revoked in a day of asking; asked again at the next start");
                return;
            }
            revoke(token, tries + 1, nullptr, waited);
        });
    });
}

void ParseClient::saveRevocations() {
    if (journalUnread_) return readJournalAgain();
    const auto& service = core_->config.secretService;
    std::string list;
    for (const auto& token : revoking_) list += token + "\n";
    if (revoking_.empty()) {
        if (secretsQueue_) secretsQueue_->remove(service, kSessionsToRevokeKey);
        else secrets_.remove(service, kSessionsToRevokeKey);
        settings_.remove(kSessionsToRevokeKey);
    } else {
        // Kept at quit as removals are: it is what the next start revokes.
        if (secretsQueue_)
            secretsQueue_->write(service, kSessionsToRevokeKey, Bytes(list.begin(), list.end()), nullptr, true);
        else secrets_.writeString(service, kSessionsToRevokeKey, list);
        settings_.set(kSessionsToRevokeKey, SettingValue(true));
    }
    settings_.synchronize();
}

void ParseClient::readJournal(std::function<void(SecretRead)> then) {
    if (!secretsQueue_) return then(secrets_.read(core_->config.secretService, kSessionsToRevokeKey));
    std::weak_ptr<bool> alive = alive_;
    secretsQueue_->read(core_->config.secretService, kSessionsToRevokeKey, [alive, then](SecretRead stored) {
        if (!alive.expired()) then(std::move(stored));
    });
}

bool ParseClient::takeJournal(const SecretRead& stored) {
    if (stored.status == SecretStatus::Error) {
        if (!journalUnread_)
            log::warning(kLog, "the sessions left to revoke could not be read (" + stored.why +
                                   "); the list is asked for again, and never written over unread");
        journalUnread_ = true;
        return false;
    }
    journalUnread_ = false;
    std::vector<std::string> left;
    const std::string text = stored.status == SecretStatus::Found ? stored.text() : std::string();
    for (std::size_t at = 0; at < text.size();) {
        const auto end = std::min(text.find('\n', at), text.size());
        const std::string token = text.substr(at, end - at);
        at = end + 1;
        if (isPlausibleToken(token) && std::find(revoking_.begin(), revoking_.end(), token) == revoking_.end() &&
            std::find(left.begin(), left.end(), token) == left.end())
            left.push_back(token);
    }
    if (!left.empty())
        log::info(kLog, std::to_string(left.size()) + " signed-out sessions of an earlier run are revoked now");
    revoking_.insert(revoking_.begin(), left.begin(), left.end());
    saveRevocations();
    for (const auto& token : left) revoke(token, 0, nullptr);
    return true;
}

void ParseClient::readJournalAgain() {
    if (journalReading_) return;  // what it reads is saved with this run's sessions
    journalReading_ = true;
    readJournal([this](SecretRead stored) {
        journalReading_ = false;
        if (takeJournal(stored)) {
            journalRetryMs_ = kJournalRetryMs;
            return;
        }
        std::weak_ptr<bool> alive = alive_;
        core_->queue.postAfter(static_cast<double>(journalRetryMs_), [this, alive] {
            if (!alive.expired() && journalUnread_) readJournalAgain();
        });
        journalRetryMs_ = std::min(journalRetryMs_ * 2, kJournalRetryCapMs);
    });
}

void ParseClient::resumeRevocations() {
    // Without a list left, the secret store is not asked: it may still be starting.
    if (!settings_.boolForKey(kSessionsToRevokeKey)) return;
    readJournal([this](SecretRead stored) {
        if (takeJournal(stored)) return;
        std::weak_ptr<bool> alive = alive_;
        core_->queue.postAfter(static_cast<double>(journalRetryMs_), [this, alive] {
            if (!alive.expired() && journalUnread_) readJournalAgain();
        });
    });
}

}  // namespace hw

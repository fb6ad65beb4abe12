#pragma once

#include <string>

// A database of its own on the test server, dropped again at the end. The server
// is the one scripts/test starts (scripts/pg-server); its URIs come from
// ZEPLO_TEST_PG (the owner) and ZEPLO_TEST_PG_READONLY (a role that may only read).
// Without them the test fails, saying how to start a server: a server test never
// passes without a server.
class ServerDatabase {
public:
    // `options` go to CREATE DATABASE (an encoding, say).
    explicit ServerDatabase(const std::string &options = std::string());
    ~ServerDatabase();
    ServerDatabase(const ServerDatabase &) = delete;
    ServerDatabase &operator=(const ServerDatabase &) = delete;

    // False when no database could be made; the reason is already a test failure.
    bool ok() const { return !name_.empty(); }
    std::string uri() const { return uri_; }
    std::string readOnlyUri() const { return readOnlyUri_; }
    // The owner over TCP with TLS, the server's certificate and name verified
    // (ZEPLO_TEST_PG_TLS).
    std::string tlsUri() const;
    // A role that logs in with a password (scram-sha-256) and may read and
    // write the books (ZEPLO_TEST_PG_LOGIN): its URI without the password, and
    // the password, which a user would type.
    std::string loginUri() const;
    std::string loginPassword() const;

    // Runs SQL as the owner; the first value of the last result, "<NULL>" for null.
    std::string scalar(const std::string &sql) const;

private:
    std::string name_;
    std::string uri_;
    std::string readOnlyUri_;
};

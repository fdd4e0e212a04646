#pragma once
// A local HTTPS release host: serves files with validators and byte ranges,
// and, for tests, misbehaves on request (cuts, stalls, redirects, odd
// statuses, a Range it ignores, a file that changes between requests, a body
// that never ends).

#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "stage/release_host/test_authority.h"

namespace orbitreel::release_host {

// A served file. Its bytes are produced on demand, so a large one costs no
// memory.
struct Entity {
    std::uint64_t size = 0;
    std::function<void(std::uint64_t offset, std::span<std::uint8_t> out)> fill;
    std::string etag;          // sent as written, quotes included; empty: none
    std::string lastModified;  // an HTTP date; empty: none

    static Entity fromBytes(std::vector<std::uint8_t> bytes, std::string etag);
    // Deterministic bytes that depend on the offset (see patternByte).
    static Entity pattern(std::uint64_t size, std::string etag);
};

std::uint8_t patternByte(std::uint64_t offset);

// Misbehaviour for the next responses of one path.
struct Fault {
    std::optional<std::uint64_t> cutAfter;     // close the connection after this many body bytes
    std::optional<std::uint64_t> stallAfter;   // send this many body bytes, then nothing until stopped
    bool ignoreRange = false;                  // answer a range request with the whole file
    bool wholeFileAsRange = false;             // answer it as a 206, yet send the whole file from byte 0
    std::optional<std::string> contentRange;   // sent instead of the true Content-Range
    std::optional<std::string> contentLength;  // sent as Content-Length; the body goes chunked
    // A body that never ends, whatever the answer (redirects and fixed
    // statuses too): bytes until the client stops reading or the host stops.
    bool endlessBody = false;
    int times = 1;  // responses it applies to; -1: every one

    static Fault cut(std::uint64_t bytes) {
        Fault fault;
        fault.cutAfter = bytes;
        return fault;
    }
    static Fault stall(std::uint64_t bytes) {
        Fault fault;
        fault.stallAfter = bytes;
        return fault;
    }
    static Fault wholeFileForRanges() {
        Fault fault;
        fault.ignoreRange = true;
        return fault;
    }
    static Fault endless() {
        Fault fault;
        fault.endlessBody = true;
        return fault;
    }
};

struct RequestRecord {
    std::string path;
    std::string range;    // the Range header as received, empty when absent
    std::string ifRange;  // the If-Range header as received
    int status = 0;
    std::uint64_t bodyBytesSent = 0;
};

class Server {
public:
    // Listens on 127.0.0.1 at a free port (or `port`) with the given
    // certificate; starts serving at once.
    explicit Server(const Certificates& certificates, int port = 0);
    ~Server();
    Server(const Server&) = delete;
    Server& operator=(const Server&) = delete;

    int port() const { return port_; }

    // Serves `entity` at `path`, replacing what was there (a new ETag makes a
    // changed file).
    void serve(const std::string& path, Entity entity);
    void redirect(const std::string& path, const std::string& location, int status = 302);
    // A fixed status with an empty body.
    void respond(const std::string& path, int status);
    void fault(const std::string& path, Fault fault);

    std::vector<RequestRecord> requests() const;
    std::uint64_t bodyBytesSent() const;
    // Blocks until a response of `path` is stalled, so a test knows the
    // client has the bytes before the stall. False after `timeout`.
    bool waitForStall(const std::string& path, std::chrono::milliseconds timeout);

private:
    struct Route;
    struct Impl;
    std::unique_ptr<Impl> impl_;
    int port_ = 0;
};

}  // namespace orbitreel::release_host

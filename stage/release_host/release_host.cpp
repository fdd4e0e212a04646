#include "stage/release_host/release_host.h"

#include <httplib.h>

#include <algorithm>
#include <charconv>
#include <cstring>
#include <stdexcept>
#include <variant>

namespace orbitreel::release_host {

namespace {

constexpr std::size_t ChunkSize = 128 * 1024;

struct Redirect {
    std::string location;
    int status = 302;
};
struct FixedStatus {
    int status = 0;
};

struct ByteRange {
    std::uint64_t first = 0;
    std::optional<std::uint64_t> last;
};

// One "bytes=FIRST-" or "bytes=FIRST-LAST"; anything else is not a range we serve.
std::optional<ByteRange> parseRange(const std::string& header) {
    std::string_view text = header;
    if (!text.starts_with("bytes=")) return std::nullopt;
    text.remove_prefix(6);
    auto dash = text.find('-');
    if (dash == std::string_view::npos || dash == 0 || text.find(',') != std::string_view::npos) return std::nullopt;
    ByteRange range;
    auto first = text.substr(0, dash);
    if (std::from_chars(first.data(), first.data() + first.size(), range.first).ptr != first.data() + first.size())
        return std::nullopt;
    auto last = text.substr(dash + 1);
    if (!last.empty()) {
        std::uint64_t value = 0;
        if (std::from_chars(last.data(), last.data() + last.size(), value).ptr != last.data() + last.size())
            return std::nullopt;
        if (value < range.first) return std::nullopt;
        range.last = value;
    }
    return range;
}

std::uint64_t patternWord(std::uint64_t index) {
    std::uint64_t z = index * 0x9E3779B97F4A7C15ull;
    z ^= z >> 31;
    return z * 0xBF58476D1CE4E5B9ull;
}

}  // namespace

std::uint8_t patternByte(std::uint64_t offset) {
    return static_cast<std::uint8_t>(patternWord(offset / 8) >> ((offset % 8) * 8));
}

Entity Entity::fromBytes(std::vector<std::uint8_t> bytes, std::string etag) {
    auto data = std::make_shared<const std::vector<std::uint8_t>>(std::move(bytes));
    Entity entity;
    entity.size = data->size();
    entity.etag = std::move(etag);
    entity.fill = [data](std::uint64_t offset, std::span<std::uint8_t> out) {
        std::memcpy(out.data(), data->data() + offset, out.size());
    };
    return entity;
}

Entity Entity::pattern(std::uint64_t size, std::string etag) {
    Entity entity;
    entity.size = size;
    entity.etag = std::move(etag);
    entity.fill = [](std::uint64_t offset, std::span<std::uint8_t> out) {
        std::size_t i = 0;
        while (i < out.size() && (offset + i) % 8 != 0) {
            out[i] = patternByte(offset + i);
            ++i;
        }
        for (; i + 8 <= out.size(); i += 8) {
            std::uint64_t word = patternWord((offset + i) / 8);
            std::memcpy(out.data() + i, &word, 8);  // little-endian, as patternByte reads it
        }
        for (; i < out.size(); ++i) out[i] = patternByte(offset + i);
    };
    return entity;
}

struct Server::Route {
    std::variant<Entity, Redirect, FixedStatus> answer;
};

struct Server::Impl {
    std::unique_ptr<httplib::SSLServer> server;
    std::thread thread;

    mutable std::mutex mutex;
    std::condition_variable changed;
    bool stopping = false;
    std::map<std::string, Route> routes;
    std::map<std::string, Fault> faults;
    std::map<std::string, int> stalls;
    std::vector<RequestRecord> records;
    std::uint64_t bytesSent = 0;

    std::optional<Fault> takeFault(const std::string& path) {
        auto it = faults.find(path);
        if (it == faults.end()) return std::nullopt;
        Fault fault = it->second;
        if (it->second.times > 0 && --it->second.times == 0) faults.erase(it);
        return fault;
    }

    void handle(const httplib::Request& request, httplib::Response& response) {
        // httplib would cut every response to the requested range by itself;
        // this host decides about ranges on its own, as servers in the wild do.
        const_cast<httplib::Request&>(request).ranges.clear();

        std::unique_lock lock(mutex);
        std::size_t record = records.size();
        records.push_back(
            RequestRecord{request.path, request.get_header_value("Range"), request.get_header_value("If-Range"), 0, 0});
        auto route = routes.find(request.path);
        if (route == routes.end()) {
            response.status = records[record].status = 404;
            return;
        }
        Fault fault = takeFault(request.path).value_or(Fault{});
        if (auto* redirect = std::get_if<Redirect>(&route->second.answer)) {
            response.set_redirect(redirect->location, redirect->status);
            records[record].status = redirect->status;
            if (fault.endlessBody) sendEndlessBody(response, record);
            return;
        }
        if (auto* fixed = std::get_if<FixedStatus>(&route->second.answer)) {
            response.status = records[record].status = fixed->status;
            if (fault.endlessBody) sendEndlessBody(response, record);
            return;
        }
        Entity entity = std::get<Entity>(route->second.answer);

        std::uint64_t first = 0, length = entity.size;
        int status = 200;
        auto range = parseRange(request.get_header_value("Range"));
        std::string ifRange = request.get_header_value("If-Range");
        bool sameEntity = ifRange.empty() || (!entity.etag.empty() && ifRange == entity.etag) ||
                          (!entity.lastModified.empty() && ifRange == entity.lastModified);
        if (range && sameEntity && !fault.ignoreRange) {
            if (range->first >= entity.size) {
                response.status = records[record].status = 416;
                response.set_header("Content-Range", "bytes */" + std::to_string(entity.size));
                return;
            }
            first = range->first;
            std::uint64_t last = std::min(range->last.value_or(entity.size - 1), entity.size - 1);
            length = last - first + 1;
            status = 206;
            response.set_header("Content-Range", "bytes " + std::to_string(first) + "-" + std::to_string(last) + "/" +
                                                     std::to_string(entity.size));
        }
        records[record].status = response.status = status;
        response.set_header("Accept-Ranges", "bytes");
        if (!entity.etag.empty()) response.set_header("ETag", entity.etag);
        if (!entity.lastModified.empty()) response.set_header("Last-Modified", entity.lastModified);
        if (fault.contentRange) {
            response.headers.erase("Content-Range");
            response.set_header("Content-Range", *fault.contentRange);
        }
        if (fault.endlessBody) return sendEndlessBody(response, record);
        lock.unlock();

        std::string path = request.path;
        auto buffer = std::make_shared<std::vector<std::uint8_t>>(ChunkSize);
        auto send = [this, entity, first, fault, record, path, buffer](std::size_t offset, std::size_t left,
                                                                       httplib::DataSink& sink) {
            if (fault.cutAfter && offset >= *fault.cutAfter) return false;
            if (fault.stallAfter && offset >= *fault.stallAfter) {
                stall(path);
                return false;
            }
            std::size_t chunk = std::min(left, ChunkSize);
            if (fault.cutAfter) chunk = std::min<std::uint64_t>(chunk, *fault.cutAfter - offset);
            if (fault.stallAfter) chunk = std::min<std::uint64_t>(chunk, *fault.stallAfter - offset);
            // The whole file for a range: its first bytes under the range's
            // headers, and then the rest, past the declared length.
            const std::uint64_t from = fault.wholeFileAsRange ? 0 : first;
            std::uint64_t end = from + offset + chunk;
            if (fault.wholeFileAsRange && chunk == left) end = entity.size;
            for (std::uint64_t at = from + offset; at < end;) {
                std::size_t piece = std::min<std::uint64_t>(ChunkSize, end - at);
                entity.fill(at, std::span(buffer->data(), piece));
                if (!sink.write(reinterpret_cast<const char*>(buffer->data()), piece)) return false;
                at += piece;
            }
            std::lock_guard guard(mutex);
            records[record].bodyBytesSent += end - from - offset;
            bytesSent += end - from - offset;
            return true;
        };
        if (!fault.contentLength) return response.set_content_provider(length, "application/octet-stream", send);
        // A length of the fault's choosing: the body itself goes in chunks.
        response.set_header("Content-Length", *fault.contentLength);
        response.set_chunked_content_provider("application/octet-stream",
                                              [send, length](std::size_t offset, httplib::DataSink& sink) {
                                                  if (offset >= length) {
                                                      sink.done();
                                                      return true;
                                                  }
                                                  return send(offset, length - offset, sink);
                                              });
    }

    // Chunks of filler, for as long as the client takes them.
    void sendEndlessBody(httplib::Response& response, std::size_t record) {
        auto filler = std::make_shared<const std::string>(ChunkSize, 'x');
        auto provide = [this, record, filler](std::size_t, httplib::DataSink& sink) {
            {
                std::lock_guard guard(mutex);
                if (stopping) return false;
            }
            if (!sink.write(filler->data(), filler->size())) return false;
            std::lock_guard guard(mutex);
            records[record].bodyBytesSent += filler->size();
            bytesSent += filler->size();
            return true;
        };
        response.set_chunked_content_provider("text/html", provide);
    }

    void stall(const std::string& path) {
        std::unique_lock lock(mutex);
        ++stalls[path];
        changed.notify_all();
        changed.wait(lock, [&] { return stopping; });
    }
};

Server::Server(const Certificates& certificates, int port) : impl_(std::make_unique<Impl>()) {
    impl_->server = std::make_unique<httplib::SSLServer>(certificates.certificate.c_str(), certificates.key.c_str());
    if (!impl_->server->is_valid()) throw std::runtime_error("release host: the certificate or key is not usable");
    // Short keep-alive, so stopping never waits long for an idle client.
    impl_->server->set_keep_alive_timeout(1);
    impl_->server->Get(".*", [impl = impl_.get()](const httplib::Request& request, httplib::Response& response) {
        impl->handle(request, response);
    });
    if (port == 0) {
        port_ = impl_->server->bind_to_any_port("127.0.0.1");
    } else if (impl_->server->bind_to_port("127.0.0.1", port)) {
        port_ = port;
    } else {
        port_ = -1;
    }
    if (port_ <= 0) throw std::runtime_error("release host: cannot listen on 127.0.0.1");
    impl_->thread = std::thread([impl = impl_.get()] { impl->server->listen_after_bind(); });
    // httplib's stop() does nothing until the loop runs; a host stopped
    // right after it started would otherwise wait in accept() forever.
    while (!impl_->server->is_running()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

Server::~Server() {
    {
        std::lock_guard lock(impl_->mutex);
        impl_->stopping = true;
    }
    impl_->changed.notify_all();
    impl_->server->stop();
    impl_->thread.join();
}

void Server::serve(const std::string& path, Entity entity) {
    std::lock_guard lock(impl_->mutex);
    impl_->routes[path] = Route{std::move(entity)};
}

void Server::redirect(const std::string& path, const std::string& location, int status) {
    std::lock_guard lock(impl_->mutex);
    impl_->routes[path] = Route{Redirect{location, status}};
}

void Server::respond(const std::string& path, int status) {
    std::lock_guard lock(impl_->mutex);
    impl_->routes[path] = Route{FixedStatus{status}};
}

void Server::fault(const std::string& path, Fault fault) {
    std::lock_guard lock(impl_->mutex);
    impl_->faults[path] = fault;
}

std::vector<RequestRecord> Server::requests() const {
    std::lock_guard lock(impl_->mutex);
    return impl_->records;
}

std::uint64_t Server::bodyBytesSent() const {
    std::lock_guard lock(impl_->mutex);
    return impl_->bytesSent;
}

bool Server::waitForStall(const std::string& path, std::chrono::milliseconds timeout) {
    std::unique_lock lock(impl_->mutex);
    return impl_->changed.wait_for(lock, timeout, [&] { return impl_->stalls[path] > 0; });
}

}  // namespace orbitreel::release_host

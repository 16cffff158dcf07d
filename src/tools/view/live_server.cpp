#include "tools/view/live_server.h"

#include <httplib.h>
#include <sys/socket.h>

#include <atomic>
#include <mutex>
#include <thread>

#include "tools/view/event_frame.h"
#include "tools/view/request_filter.h"

namespace scene::view {
namespace {

constexpr const char* kLoopback = "127.0.0.1";
constexpr const char* kEventsPath = "/events";
constexpr const char* kStillPath = "/still.jpg";
constexpr const char* kCommandPath = "/command";
constexpr const char* kTokenHeader = "X-Scene-View-Token";
constexpr const char* kHostHeader = "Host";
constexpr const char* kOriginHeader = "Origin";
constexpr const char* kDroppedEvent = "dropped";
constexpr const char* kPlainText = "text/plain; charset=utf-8";

// Every stream holds a connection thread for as long as its browser watches;
// the others serve the page, stills and commands.
constexpr std::size_t kConnectionThreads = 8;
// How often a quiet stream writes a comment, so a browser that has gone is
// noticed and its place freed even while nothing is published.
constexpr std::chrono::milliseconds kStreamTick{1000};
constexpr int kReconnectMilliseconds = 1000;
constexpr time_t kReadTimeoutSeconds = 5;
// A browser that takes nothing for this long loses its connection.
constexpr time_t kWriteTimeoutSeconds = 5;
constexpr time_t kKeepAliveSeconds = 2;
constexpr std::size_t kLargestBody = 1024;

// The page runs only its own script and style, reaches only this server, and
// is never framed by another page (which could trick clicks on its buttons).
const httplib::Headers kPageHeaders = {
    {"Content-Security-Policy",
     "default-src 'none'; script-src 'self'; style-src 'self'; img-src 'self' blob:; connect-src 'self'; "
     "base-uri 'none'; form-action 'none'; frame-ancestors 'none'"},
    {"X-Frame-Options", "DENY"},
    {"X-Content-Type-Options", "nosniff"},
    {"Referrer-Policy", "no-referrer"},
    {"Cache-Control", "no-store"},
};

void refuse(httplib::Response& response, int status, const std::string& why) {
    response.status = status;
    response.set_content(why + "\n", kPlainText);
}

std::optional<std::string> header(const httplib::Request& request, const char* name) {
    if (!request.has_header(name)) return std::nullopt;
    return request.get_header_value(name);
}

}  // namespace

struct LiveServer::State {
    State(Settings given, EventHub& eventHub, CommandInbox& commandInbox)
        : settings(std::move(given)), hub(eventHub), inbox(commandInbox) {}

    Settings settings;
    EventHub& hub;
    CommandInbox& inbox;
    httplib::Server server;
    std::thread listener;
    std::atomic<int> port{0};
    std::atomic<bool> listened{false};  // the accept loop has returned
    std::mutex stillMutex;
    std::shared_ptr<const std::string> still;
    bool stopped = false;

    void route() {
        server.set_pre_routing_handler([this](const httplib::Request& request, httplib::Response& response) {
            if (!hostAllowed(request.get_header_value(kHostHeader), port)) {
                refuse(response, 403, "this server answers only to its loopback address and port");
                return httplib::Server::HandlerResponse::Handled;
            }
            return httplib::Server::HandlerResponse::Unhandled;
        });
        for (const PageDocument& document : settings.documents) {
            server.Get(document.path, [&document](const httplib::Request&, httplib::Response& response) {
                for (const auto& [name, value] : kPageHeaders) response.set_header(name, value);
                response.set_content(document.body, document.contentType);
            });
        }
        server.Get(kEventsPath, [this](const httplib::Request&, httplib::Response& response) { stream(response); });
        server.Get(kStillPath, [this](const httplib::Request&, httplib::Response& response) {
            std::shared_ptr<const std::string> jpeg;
            {
                std::lock_guard lock(stillMutex);
                jpeg = still;
            }
            if (!jpeg) return refuse(response, 404, "no still yet");
            response.set_header("Cache-Control", "no-store");
            response.set_content(*jpeg, "image/jpeg");
        });
        server.Post(kCommandPath, [this](const httplib::Request& request, httplib::Response& response) {
            command(request, response);
        });
        server.Get(kCommandPath, [](const httplib::Request&, httplib::Response& response) {
            response.set_header("Allow", "POST");
            refuse(response, 405, "commands are sent by POST");
        });
        server.set_exception_handler([](const httplib::Request&, httplib::Response& response, std::exception_ptr) {
            refuse(response, 500, "internal error");
        });
    }

    void stream(httplib::Response& response) {
        std::shared_ptr<EventHub::Subscription> subscription = hub.subscribe();
        if (!subscription) return refuse(response, 503, "as many browsers as this viewer serves are watching");
        response.set_header("Cache-Control", "no-store");
        auto greeted = std::make_shared<bool>(false);
        response.set_chunked_content_provider(
            "text/event-stream", [subscription, greeted](std::size_t, httplib::DataSink& sink) {
                const auto write = [&sink](const std::string& text) { return sink.write(text.data(), text.size()); };
                if (!*greeted) {
                    *greeted = true;
                    return write(serverSentRetry(kReconnectMilliseconds));
                }
                const EventHub::Batch batch = subscription->next(kStreamTick);
                if (batch.closed) return false;
                if (batch.dropped > 0 && !write(serverSentEvent(kDroppedEvent, std::to_string(batch.dropped))))
                    return false;
                for (const EventHub::Event& event : batch.events)
                    if (!sink.write(event->data(), event->size())) return false;
                if (batch.events.empty() && batch.dropped == 0) return write(serverSentComment("idle"));
                return true;
            });
    }

    void command(const httplib::Request& request, httplib::Response& response) {
        const auto origin = header(request, kOriginHeader);
        if (!originAllowed(origin ? std::optional<std::string_view>(*origin) : std::nullopt, port))
            return refuse(response, 403, "commands come only from this server's own page");
        if (!tokenMatches(settings.token, header(request, kTokenHeader).value_or("")))
            return refuse(response, 403, "commands need this run's token");
        const auto word = forwardableCommand(request.body);
        if (!word) return refuse(response, 400, "not a command the live view forwards");
        if (!inbox.post(std::string(*word))) return refuse(response, 503, "too many commands at once");
        response.status = 204;
    }
};

LiveServer::Started LiveServer::start(Settings settings, EventHub& hub, CommandInbox& inbox) {
    auto state = std::make_unique<State>(std::move(settings), hub, inbox);
    httplib::Server& server = state->server;
    server.new_task_queue = [] { return new httplib::ThreadPool(kConnectionThreads); };
    // Only SO_REUSEADDR: the library's default would also let another process
    // bind the same port beside this one and take its connections.
    server.set_socket_options([](socket_t socket) {
        const int yes = 1;
        ::setsockopt(socket, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    });
    server.set_tcp_nodelay(true);
    server.set_read_timeout(kReadTimeoutSeconds, 0);
    server.set_write_timeout(kWriteTimeoutSeconds, 0);
    server.set_keep_alive_timeout(kKeepAliveSeconds);
    server.set_payload_max_length(kLargestBody);
    state->route();

    const int wanted = state->settings.port;
    const int bound =
        wanted == 0 ? server.bind_to_any_port(kLoopback) : (server.bind_to_port(kLoopback, wanted) ? wanted : -1);
    if (bound <= 0)
        return {nullptr, "cannot listen on " + std::string(kLoopback) + ":" + std::to_string(wanted) +
                             (wanted == 0 ? "" : " (is the port taken?)")};
    state->port = bound;
    state->listener = std::thread([&server, &listened = state->listened] {
        server.listen_after_bind();
        listened = true;
    });
    return {std::unique_ptr<LiveServer>(new LiveServer(std::move(state))), {}};
}

LiveServer::LiveServer(std::unique_ptr<State> state) : state_(std::move(state)) {}

LiveServer::~LiveServer() { stop(); }

int LiveServer::port() const { return state_->port; }

void LiveServer::setStill(std::shared_ptr<const std::string> jpeg) {
    std::lock_guard lock(state_->stillMutex);
    state_->still = std::move(jpeg);
}

void LiveServer::stop() {
    if (state_->stopped) return;
    state_->stopped = true;
    state_->hub.close();
    // The library's stop() does nothing before its accept loop has begun, and
    // that loop begins at once on its thread: wait for it, or for its end.
    while (!state_->server.is_running() && !state_->listened) std::this_thread::yield();
    state_->server.stop();
    if (state_->listener.joinable()) state_->listener.join();
}

}  // namespace scene::view

// Runs the built scene-view --serve against the real scene-sampler on the
// simulated desktop, and talks to it as a browser and as a hostile page would:
// the event stream, the still, the limit on browsers, and the requests it must
// refuse.
#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <httplib.h>
#include <netinet/in.h>
#include <poll.h>
#include <spawn.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <optional>

#include "platform/records.h"

namespace scene::view {
namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kDeadline = std::chrono::seconds(30);

int millisecondsUntil(Clock::time_point until) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now()).count();
    return static_cast<int>(std::max<long long>(0, left));
}

// scene-view --serve with a clean environment and its standard output on a
// pipe, from which the first line (the page's address) is read.
class LiveProcess {
public:
    explicit LiveProcess(const std::vector<std::string>& samplerArguments) {
        std::vector<std::string> words{SCENE_VIEW_BINARY, "--serve", "--port", "0", "--"};
        words.insert(words.end(), samplerArguments.begin(), samplerArguments.end());
        std::vector<char*> argv;
        for (auto& word : words) argv.push_back(word.data());
        argv.push_back(nullptr);
        char* envp[] = {nullptr};
        int out[2];
        if (::pipe2(out, O_CLOEXEC) != 0) return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
        const int spawned = posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), envp);
        posix_spawn_file_actions_destroy(&actions);
        ::close(out[1]);
        output_ = out[0];
        if (spawned != 0) pid_ = -1;
    }

    ~LiveProcess() {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
        if (output_ >= 0) ::close(output_);
    }

    // The first line of its output, or nothing by the deadline.
    std::optional<std::string> firstLine() {
        std::string text;
        const auto until = Clock::now() + kDeadline;
        while (text.find('\n') == std::string::npos) {
            pollfd ready{output_, POLLIN, 0};
            if (::poll(&ready, 1, millisecondsUntil(until)) <= 0) return std::nullopt;
            char chunk[256];
            const ssize_t n = ::read(output_, chunk, sizeof chunk);
            if (n <= 0) return std::nullopt;
            text.append(chunk, static_cast<std::size_t>(n));
        }
        return text.substr(0, text.find('\n'));
    }

    // SIGTERM, then its exit status (nothing if it did not end in time).
    std::optional<int> terminate() {
        ::kill(pid_, SIGTERM);
        const int process = static_cast<int>(::syscall(SYS_pidfd_open, pid_, 0));
        if (process >= 0) {
            pollfd ready{process, POLLIN, 0};
            ::poll(&ready, 1, millisecondsUntil(Clock::now() + kDeadline));
            ::close(process);
        }
        int raw = 0;
        if (::waitpid(pid_, &raw, WNOHANG) != pid_) return std::nullopt;
        pid_ = -1;
        return WIFEXITED(raw) ? WEXITSTATUS(raw) : -WTERMSIG(raw);
    }

private:
    pid_t pid_ = -1;
    int output_ = -1;
};

// A browser that asks for the event stream and then reads nothing more.
class StalledStream {
public:
    explicit StalledStream(int port) : socket_(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(static_cast<std::uint16_t>(port));
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (::connect(socket_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) return;
        const std::string request =
            "GET /events HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port) + "\r\nAccept: text/event-stream\r\n\r\n";
        if (::write(socket_, request.data(), request.size()) != static_cast<ssize_t>(request.size())) return;
        // Its first bytes mean the server has given it a place.
        pollfd ready{socket_, POLLIN, 0};
        char byte;
        started_ =
            ::poll(&ready, 1, millisecondsUntil(Clock::now() + kDeadline)) == 1 && ::read(socket_, &byte, 1) == 1;
    }
    ~StalledStream() { ::close(socket_); }
    bool started() const { return started_; }

private:
    int socket_;
    bool started_ = false;
};

// Server-sent events as they arrive in pieces: the name and data of each
// complete one (the viewer's data are single lines).
class EventReader {
public:
    std::vector<std::pair<std::string, std::string>> feed(const char* bytes, std::size_t size) {
        pending_.append(bytes, size);
        std::vector<std::pair<std::string, std::string>> events;
        for (std::size_t end; (end = pending_.find("\n\n")) != std::string::npos; pending_.erase(0, end + 2)) {
            const std::string event = pending_.substr(0, end) + "\n";
            const std::size_t name = event.find("event: "), data = event.find("data: ");
            if (name == std::string::npos || data == std::string::npos) continue;  // a comment or the retry field
            events.emplace_back(event.substr(name + 7, event.find('\n', name) - name - 7),
                                event.substr(data + 6, event.find('\n', data) - data - 6));
        }
        return events;
    }

private:
    std::string pending_;
};

std::string testScene(const std::string& name) { return std::string(SCENE_SAMPLER_TEST_SCENES) + "/" + name; }

std::unique_ptr<httplib::Client> client(int port) {
    auto made = std::make_unique<httplib::Client>("127.0.0.1", port);
    made->set_read_timeout(std::chrono::seconds(10));
    return made;
}

int post(int port, const std::string& body, const httplib::Headers& headers) {
    const auto result = client(port)->Post("/command", headers, body, "text/plain");
    return result ? result->status : -1;
}

TEST(LiveProcessTest, StreamsSnapshotsAndStillsAndRefusesWhatItMust) {
    // This process adopts orphans, so a sampler left behind would become our child.
    ASSERT_EQ(::prctl(PR_SET_CHILD_SUBREAPER, 1), 0);
    LiveProcess view({"--platform", "simulated", "--scene", testScene("basic.json"), "--allow-screen-capture"});
    const auto url = view.firstLine();
    ASSERT_TRUE(url);
    ASSERT_EQ(url->rfind("http://127.0.0.1:", 0), 0u) << *url;
    const int port = std::stoi(url->substr(17));
    const std::string host = "127.0.0.1:" + std::to_string(port);

    const auto page = client(port)->Get("/");
    ASSERT_TRUE(page);
    EXPECT_EQ(page->status, 200);
    EXPECT_TRUE(page->has_header("Content-Security-Policy"));
    const std::size_t at = page->body.find("\"token\":\"");
    ASSERT_NE(at, std::string::npos);
    const std::string token = page->body.substr(at + 9, 32);
    const httplib::Headers withToken{{"X-Scene-View-Token", token}};

    // A page of another name rebound to this address, or any page without the
    // token, reaches neither the stream nor the sampler.
    for (const char* path : {"/", "/events", "/still.jpg"}) {
        const auto forged = client(port)->Get(path, {{"Host", "attacker.example:" + std::to_string(port)}});
        ASSERT_TRUE(forged) << path;
        EXPECT_EQ(forged->status, 403) << path;
    }
    EXPECT_EQ(
        post(port, "pause", {{"Host", "attacker.example:" + std::to_string(port)}, {"X-Scene-View-Token", token}}),
        403);
    EXPECT_EQ(post(port, "pause", {}), 403);
    EXPECT_EQ(post(port, "pause", {{"X-Scene-View-Token", std::string(32, '0')}}), 403);
    EXPECT_EQ(post(port, "pause", {{"X-Scene-View-Token", token}, {"Origin", "http://attacker.example"}}), 403);
    for (const char* outside : {"quit", "rate 500", "capture-snapshot 7", "pause\nquit"})
        EXPECT_EQ(post(port, outside, withToken), 400) << outside;
    const auto got = client(port)->Get("/command");
    ASSERT_TRUE(got);
    EXPECT_EQ(got->status, 405);

    // Three browsers that stop reading take three of the four places.
    std::vector<std::unique_ptr<StalledStream>> stalled;
    for (int i = 0; i < 3; ++i) {
        stalled.push_back(std::make_unique<StalledStream>(port));
        ASSERT_TRUE(stalled.back()->started());
    }

    // The fourth reads on: snapshots and stills, a fifth refused, and pause
    // and resume reaching the sampler (a resume counts as a scene change).
    enum class Step { snapshots, paused, resumed, done } step = Step::snapshots;
    int snapshots = 0, stills = 0;
    std::optional<std::int64_t> revisionBefore;
    std::optional<int> fifth;
    std::string failure;
    EventReader reader;
    const auto until = Clock::now() + kDeadline;
    client(port)->Get("/events", [&](const char* data, std::size_t size) {
        for (const auto& [name, text] : reader.feed(data, size)) {
            Json value = Json::parse(text, nullptr, false);
            if (!value.is_object()) failure = "an event whose data is not a JSON object";
            if (!value.is_object()) break;
            if (name == "snapshot") {
                Json& snapshot = value["snapshot"];
                if (!value["seq"].is_number() || !snapshot["windows"].is_array()) failure = "bad snapshot event";
                ++snapshots;
                if (step == Step::resumed && revisionBefore && snapshot["context"]["revision"] > *revisionBefore)
                    step = Step::done;
                if (step == Step::snapshots) revisionBefore = snapshot["context"]["revision"].get<std::int64_t>();
            } else if (name == "still") {
                stills += value["width"].is_number() && value["height"].is_number();
            } else if (name == "status") {
                if (step == Step::paused && value["paused"] == true) {
                    if (post(port, "resume", withToken) != 204) failure = "resume refused";
                    step = Step::resumed;
                }
            }
        }
        if (step == Step::snapshots && snapshots >= 3 && stills >= 1) {
            const auto refused = client(port)->Get("/events");
            fifth = refused ? refused->status : -1;
            if (post(port, "pause", withToken) != 204) failure = "pause refused";
            step = Step::paused;
        }
        return failure.empty() && step != Step::done && Clock::now() < until;
    });
    EXPECT_EQ(failure, "");
    EXPECT_EQ(step, Step::done) << snapshots << " snapshots, " << stills << " stills";
    EXPECT_EQ(fifth, 503);

    const auto still = client(port)->Get("/still.jpg");
    ASSERT_TRUE(still);
    EXPECT_EQ(still->status, 200);
    EXPECT_EQ(still->get_header_value("Content-Type"), "image/jpeg");
    EXPECT_EQ(still->body.substr(0, 2), "\xff\xd8");

    stalled.clear();
    EXPECT_EQ(view.terminate(), 0);
    errno = 0;
    EXPECT_TRUE(::waitpid(-1, nullptr, WNOHANG) == -1 && errno == ECHILD) << "no sampler is left behind";
}

}  // namespace
}  // namespace scene::view

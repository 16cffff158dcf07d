#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform/runtime.h"
#include "selected_capture/selected_capture_session.h"

namespace scene {

class NativeCaptureAccess;

// Answers "capture-snapshot" requests: a JPEG still of the selected display,
// newer than the frame that was current when it was asked for, or an error
// word. A frame is encoded at most once, on a serial queue of its own so that
// the passes go on meanwhile, and every request waiting for that frame is
// answered with the same bytes, in request order. Replies leave one per
// main-queue task, so a burst of large ones never holds back the snapshot
// lines for long. Everything but the encoding runs on the main queue.
class SelectedStills {
public:
    using WriteLine = std::function<void(std::string_view line)>;

    // `supported`: the system offers selected capture at all.
    SelectedStills(Runtime& runtime, const SelectedCaptureSession& session, const NativeCaptureAccess& capture,
                   bool supported, WriteLine writeLine);
    // Joins the encoder before the state its results go to goes away.
    ~SelectedStills();
    SelectedStills(const SelectedStills&) = delete;
    SelectedStills& operator=(const SelectedStills&) = delete;

    // The text after "capture-snapshot ". A malformed identifier gets no reply.
    void request(const std::string& requestID);

    std::uint64_t encodings = 0;  // frames handed to the encoder

private:
    // An encoded frame; `image` (Base64 JPEG) is empty when the frame could
    // not be encoded or came out too large, which counts as no frame.
    struct Still {
        std::uint64_t generation = 0;
        std::uint64_t sequence = 0;
        std::uint32_t displayID = 0;
        double observed = 0;
        std::string image;
    };
    struct Request {
        std::string id;
        std::uint64_t generation = 0;  // the session's, at request time
        std::uint64_t sequence = 0;    // of the frame current then, 0 when none
        double deadline = 0;
        // The frame whose encoding this request waits for. It found that frame
        // in time, so the encoding's result answers it whatever the clock says.
        std::optional<std::uint64_t> awaiting;
    };
    struct Reply {
        std::string id;
        std::uint64_t generation = 0;
        std::shared_ptr<const Still> still;  // none for an error
        const char* error = nullptr;
    };

    // One attempt for every waiting request, in order.
    void attempt();
    void scheduleAttempt();
    void encode(const SelectedCaptureSession::Frame& frame);
    void encoded(std::shared_ptr<const Still> still);
    void answer(Reply reply);
    void writeNextReply();
    void writeStill(const Reply& reply);

    Runtime& runtime_;
    const SelectedCaptureSession& session_;
    const NativeCaptureAccess& capture_;
    const bool supported_;
    WriteLine writeLine_;
    std::deque<Request> waiting_;
    std::deque<Reply> replies_;
    bool writing_ = false;  // a reply is on its way out, the rest follow it
    bool attemptScheduled_ = false;
    std::optional<std::uint64_t> encoding_;  // sequence of the frame being encoded
    std::shared_ptr<const Still> newest_;    // the last frame encoded
    std::string line_;                       // reused: a 4K still is over a megabyte
    std::unique_ptr<Queue> encoder_;
    // Main-queue completions hold it weakly and do nothing once it is gone.
    std::shared_ptr<int> alive_ = std::make_shared<int>(0);
};

}  // namespace scene

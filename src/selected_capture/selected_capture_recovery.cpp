// Recovery of the selected display's stream: display checks once per pass, the
// delayed recovery tick, transport replacement and stream errors. Every delayed
// step carries the recovery token it was made under and the stream it concerns,
// so a newer decision always wins.

#include <algorithm>

#include "platform/json_read.h"
#include "selected_capture/selected_capture_session.h"

namespace scene {

void SelectedCaptureSession::checkDisplay() {
    if (!selectedDisplay) return;
    const GatePublisher publish{*this};

    WindowServer& windowServer = platform_.windowServer();
    const DisplayID display = *selectedDisplay;
    const double now = runtime_.clock().uptime();
    if (!windowServer.displayIsActive(display)) {
        sourceUnavailable = true;
        retained.reset();
        health.begin(now);
        if (state != selected_words::kInterrupted) transition(std::string(selected_words::kInterrupted));
        return;
    }
    if (sourceUnavailable) {
        sourceUnavailable = false;
        health.begin(now);
        if (stream) transition(std::string(selected_words::kStarting));
        scheduleRecovery();
    }

    const bool eligible = !paused && !presenting && !displaySleeping && !windowServer.displayIsAsleep(display);
    const SelectedCaptureHealth::Action action = health.action(now, eligible);
    if (!eligible) return;
    if (!selectionStillMatches()) {
        stop(std::string(selected_words::kSourceChanged));
        return;
    }
    if (!stream) return;
    switch (action) {
        case SelectedCaptureHealth::Action::wait:
            return;
        case SelectedCaptureHealth::Action::replace:
            replaceTransport(health.lastFrame ? selected_words::kFramesStalled : selected_words::kStartWithoutFrames);
            return;
        case SelectedCaptureHealth::Action::exhausted:
            recoveryReason = std::string(selected_words::kRecoveryExhausted);
            stop(std::string(selected_words::kFailed));
            return;
    }
}

bool SelectedCaptureSession::selectionStillMatches() {
    WindowServer& windowServer = platform_.windowServer();
    return windowServer.displayBounds(*selectedDisplay) == bounds &&
           windowServer.displayUUID(*selectedDisplay) == selectedDisplayUUID;
}

bool SelectedCaptureSession::loginSessionAvailable() {
    const auto session = platform_.windowServer().sessionDictionary();
    if (!session) return false;
    if (json_read::boolean(*session, selected_words::kScreenIsLockedKey) == true) return false;
    return json_read::boolean(*session, selected_words::kOnConsoleKey) == true;
}

void SelectedCaptureSession::scheduleRecovery() {
    if (stream || retiringStream) return;
    if (!suspendedStream && !replacementPending) return;
    if (!selectedFilter || recoveryScheduled) return;
    // A restart counts as an attempt; a replacement was already counted.
    if (!replacementPending && health.attempts >= SelectedCaptureHealth::kAttemptLimit) return;
    recoveryScheduled = true;
    const std::uint64_t token = recoveryToken;
    onMainAfter(kRecoveryDelay, [this, token] { recoveryTick(token); });
}

void SelectedCaptureSession::recoveryTick(std::uint64_t token) {
    if (token != recoveryToken) return;
    recoveryScheduled = false;
    if (presenting || !selectedFilter || !selectedDisplay) return;
    WindowServer& windowServer = platform_.windowServer();
    const DisplayID display = *selectedDisplay;
    // Until capture is possible again, look again every tick.
    if (paused || displaySleeping || windowServer.displayIsAsleep(display) || !windowServer.displayIsActive(display) ||
        !loginSessionAvailable()) {
        scheduleRecovery();
        return;
    }
    if (!selectionStillMatches()) {
        stop(std::string(selected_words::kSourceChanged));
        return;
    }
    transition(std::string(selected_words::kStarting));
    if (replacementPending) {
        replacementPending = false;
        startPrimary(*selectedFilter);
    } else if (suspendedStream) {
        ++health.attempts;
        ++totalRecoveries;
        begin(suspendedStream);
    }
}

void SelectedCaptureSession::retire(StreamRef old) {
    retiredStreams.push_back(std::move(old));
    if (retiredStreams.size() > kRetiredStreamLimit)
        retiredStreams.erase(retiredStreams.begin(),
                             retiredStreams.end() - static_cast<std::ptrdiff_t>(kRetiredStreamLimit));
}

void SelectedCaptureSession::replaceTransport(std::string_view reason) {
    if (presenting || paused || displaySleeping || !stream || !selectedFilter || retiringStream) return;
    if (health.attempts >= SelectedCaptureHealth::kAttemptLimit) {
        recoveryReason = std::string(selected_words::kRecoveryExhausted);
        stop(std::string(selected_words::kFailed));
        return;
    }
    ++health.attempts;
    ++totalRecoveries;
    ++transportReplacements;
    recoveryReason = std::string(reason);
    const std::uint64_t token = ++recoveryToken;
    recoveryScheduled = false;

    StreamRef old = std::exchange(stream, nullptr);
    suspendedStream.reset();
    retained.reset();
    retiringStream = old;
    retire(old);
    transition(std::string(selected_words::kStarting));
    record(selected_words::kTransportRetiring);
    publishGate();

    const std::weak_ptr<CaptureStream> weak = old;
    old->stopCapture([this, hop = hop_, weak, token](std::optional<PlatformError> error) {
        hop->post([this, weak, token, error = std::move(error)] {
            transportStopped(weak.lock(), token, error);
            publishGate();
        });
    });
    // A stop that never answers must not leave the selection hanging.
    onMainAfter(kTransportStopTimeout, [this, weak, token] { transportStopTimedOut(weak.lock(), token); });
}

void SelectedCaptureSession::transportStopped(const StreamRef& old, std::uint64_t token,
                                              const std::optional<PlatformError>& error) {
    if (!old || token != recoveryToken || retiringStream != old) return;
    retiringStream.reset();
    if (error) {
        lastErrorCode = error->code;
        recoveryReason = std::string(selected_words::kTransportStopError);
        stop(std::string(selected_words::kFailed));
        return;
    }
    replacementPending = true;
    record(selected_words::kTransportRetired);
    scheduleRecovery();
}

void SelectedCaptureSession::transportStopTimedOut(const StreamRef& old, std::uint64_t token) {
    if (!old || token != recoveryToken || retiringStream != old) return;
    recoveryReason = std::string(selected_words::kTransportStopTimeout);
    stop(std::string(selected_words::kFailed));
}

void SelectedCaptureSession::fail(const PlatformError& error) {
    lastErrorCode = error.code;
    const std::string failure = selectedFailureState(error.domain, error.code);
    const bool lost = selectedConnectionWasLost(error.domain, error.code);
    const bool attemptsLeft = health.attempts < SelectedCaptureHealth::kAttemptLimit;
    if (lost && selectedFilter && attemptsLeft) {
        // The stream object is dead with its connection: nothing to stop, only
        // to replace.
        if (stream) retire(stream);
        stream.reset();
        suspendedStream.reset();
        retained.reset();
        replacementPending = true;
        ++health.attempts;
        ++totalRecoveries;
        ++transportReplacements;
        recoveryReason = std::string(selected_words::kConnectionLost);
        transition(std::string(selected_words::kInterrupted));
        scheduleRecovery();
        return;
    }
    if (failure == selected_words::kInterrupted && selectedFilter && attemptsLeft) {
        // The same stream is restarted at the tick, which counts the attempt.
        suspendedStream = std::exchange(stream, nullptr);
        retained.reset();
        transition(std::string(selected_words::kInterrupted));
        scheduleRecovery();
        return;
    }
    stop(failure == selected_words::kInterrupted ? std::string(selected_words::kFailed) : failure);
}

void SelectedCaptureSession::didStopWithError(CaptureStream& stopped, const PlatformError& error) {
    onMain([this, held = ownedStream(&stopped), error] { streamStopped(held, error); });
}

void SelectedCaptureSession::streamStopped(const StreamRef& stopped, const PlatformError& error) {
    if (!stopped || !owns(stopped.get())) return;
    const std::string failure = selectedFailureState(error.domain, error.code);
    // The user or the system ended capture: whichever stream says so, the
    // selection is over.
    if (failure == selected_words::kStopped || failure == selected_words::kRejected) {
        lastErrorCode = error.code;
        stop(failure);
        return;
    }
    // Errors of suspended, retiring and retired streams change nothing.
    if (stopped == stream) fail(error);
}

}  // namespace scene

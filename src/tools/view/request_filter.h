#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace scene::view {

// What the live server lets through: pure functions, called on the server's
// connection threads.

// True when a request's Host header names this server on the loopback address
// ("127.0.0.1:PORT", or "localhost:PORT", which browsers never resolve
// elsewhere). Any other name, port or a missing header is refused: a page of
// another site that had its name rebound to 127.0.0.1 still sends its own name.
bool hostAllowed(std::string_view host, int port);

// True when an Origin header is absent (a plain client, or a same-origin GET)
// or names this server as `hostAllowed` does, with the "http://" scheme.
bool originAllowed(std::optional<std::string_view> origin, int port);

// Compares the whole of both texts in a time that does not depend on where they
// first differ; an empty `expected` matches nothing.
bool tokenMatches(std::string_view expected, std::string_view given);

// The command a page may have the sampler run: exactly one of the sampler's
// words for pausing, resuming, selecting or retrying the capture and switching
// visual, control and input sampling, with nothing before or after it. Any
// other text (a command of the sampler outside that list among them, such as
// "quit", "rate 100" or "capture-snapshot 1") gives nothing.
std::optional<std::string_view> forwardableCommand(std::string_view body);
// Those words, in the order the page shows their buttons.
std::span<const std::string_view> forwardableCommands();

// A random token of 32 hexadecimal digits from the kernel's generator; empty
// when it cannot be had (the server then refuses every command).
std::string mintToken();

}  // namespace scene::view
